// The batch command: parameters with their defaults, the argument parser and the run.
//
// mendlark-blend [OPTIONS] BACKGROUND OBJECT OUTPUT. Exit status: 0 on success, 1 for a runtime
// error (unreadable input, a selection that does not close or selects nothing, a blend that
// fails, an output that cannot be written; OUTPUT is then left as it was), 2 for a usage error
// found before any work. Messages go to standard error, one line each, naming the file or flag.
#pragma once

#include <string>
#include <vector>

#include "compositing.h"

struct blend_params {
  std::string background;
  std::string object;
  std::string output;
  std::string outline;         // --outline FILE
  std::string mask;            // --mask FILE; exactly one of outline and mask is set
  std::string save_selection;  // --save-selection FILE, empty for none
  bool has_position = false;   // --at given; otherwise the background's centre pixel
  int position[2] = {0, 0};
  blend_options options;
  bool verbose = false;
};

enum class parse_result { run, help, version, usage_error };

// Fills params from the arguments after the program name. On usage_error, error holds the one
// line to print. Options may come before, between or after the operands; "--" ends options.
parse_result parse_blend_arguments(const std::vector<std::string>& arguments, blend_params& params,
                                   std::string& error);

// The text printed by -h.
std::string blend_usage();

// Runs a parsed command and returns its exit status (0 or 1; 2 when an outline file turns out
// to be malformed, which is a usage error found before any image is read).
int run_blend(const blend_params& params);

constexpr const char* blend_program = "mendlark-blend";
constexpr const char* blend_version = "0.1.0";
