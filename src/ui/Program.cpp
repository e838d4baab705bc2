#include "ui/Main.h"

int main(int argc, char** argv) { return smsconf::RunProgram(argc, argv); }
