#pragma once

namespace smsconf {

// The version both programs print: the project's version from CMake, and
// behind it the git commit the programs were built from when the sources
// were a git checkout, "0.1.0 (git 1a2b3c4)", with ", modified" when files
// differed from that commit. The text is made at every build.
const char* VersionText();

}  // namespace smsconf
