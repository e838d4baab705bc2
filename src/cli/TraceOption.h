#pragma once

// --trace and --pcap: the wire trace of a command, as text and as a capture
// file. load, probe and simulate take a file each ("-": the text to
// standard error); fleet takes a folder each, for one file per gateway.

#include <memory>
#include <string>

#include "cli/Command.h"
#include "trace/WireTrace.h"

namespace smsconf::cli {

struct TraceOptions {
  std::string Text;     // FILE, or "-"; fleet: FOLDER
  std::string Capture;  // FILE; fleet: FOLDER
};

void AddTraceOptions(CLI::App& command, TraceOptions& options);
void AddTraceFolderOptions(CLI::App& command, TraceOptions& options);

// The trace that the options ask for, its first line telling `what` is
// traced; nothing when they ask for none, or when a file cannot be made,
// which `error` then says.
std::unique_ptr<trace::CWireTrace> OpenTrace(const TraceOptions& options, const std::string& what, std::string& error);

// `status`, unless the trace could not all be written: that is said on
// standard error, and a command that went well fails.
int CheckTrace(const trace::CWireTrace* trace, int status);

}  // namespace smsconf::cli
