#include "cli/TraceOption.h"

#include <cerrno>
#include <cstdio>

#include "files/FileBytes.h"
#include "files/FileSystem.h"

namespace smsconf::cli {

namespace {

// A folder that files can be made in, told before anything is sent.
CLI::Validator WritableFolder() {
  return CLI::Validator(
      [](std::string& folder) -> std::string {
        switch (KindOf(folder)) {
          case FileKind::None: return "Cannot create files in " + folder + ": no such folder";
          case FileKind::Folder: break;
          default: return "Cannot create files in " + folder + ": not a folder";
        }
        if (!FolderWritable(folder)) return "Cannot create files in " + folder + ": " + FileErrorReason(errno);
        return {};
      },
      "FOLDER");
}

}  // namespace

void AddTraceOptions(CLI::App& command, TraceOptions& options) {
  command.add_option("--trace", options.Text,
                     "Write every datagram, decoded, and every time-out, retry and step into this file ('-': "
                     "standard error)")
      ->type_name("FILE");
  command.add_option("--pcap", options.Capture, "Write every datagram into this capture file for Wireshark or tshark")
      ->type_name("FILE");
}

void AddTraceFolderOptions(CLI::App& command, TraceOptions& options) {
  command.add_option("--trace", options.Text,
                     "Write every datagram, decoded, and every time-out, retry and step into one file per gateway "
                     "in this folder, named as 127.0.0.1_1122.trace")
      ->check(WritableFolder());
  command.add_option("--pcap", options.Capture,
                     "Write every datagram into one capture file per gateway in this folder, named as "
                     "127.0.0.1_1122.pcap")
      ->check(WritableFolder());
}

std::unique_ptr<trace::CWireTrace> OpenTrace(const TraceOptions& options, const std::string& what, std::string& error) {
  error.clear();
  if (options.Text.empty() && options.Capture.empty()) return nullptr;
  auto trace = std::make_unique<trace::CWireTrace>();
  if (!options.Text.empty()) error = trace->WriteTextTo(options.Text);
  if (error.empty() && !options.Capture.empty()) error = trace->WriteCaptureTo(options.Capture);
  if (!error.empty()) return nullptr;
  trace->Begin(what);
  return trace;
}

int CheckTrace(const trace::CWireTrace* trace, int status) {
  const std::string error = trace != nullptr ? trace->WriteError() : std::string();
  if (error.empty()) return status;
  std::fprintf(stderr, "smsconf-cli: %s\n", error.c_str());
  return status != ExitOk ? status : ExitFailure;
}

}  // namespace smsconf::cli
