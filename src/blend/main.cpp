// mendlark-blend: parses the command line and hands the work to run_blend.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "blend_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  blend_params params;
  std::string error;
  switch (parse_blend_arguments(arguments, params, error)) {
    case parse_result::help:
      std::fputs(blend_usage().c_str(), stdout);
      return 0;
    case parse_result::version:
      std::printf("%s %s\n", blend_program, blend_version);
      return 0;
    case parse_result::usage_error:
      std::fprintf(stderr, "%s: %s\nTry '%s -h' for usage.\n", blend_program, error.c_str(),
                   blend_program);
      return 2;
    case parse_result::run:
      break;
  }
  try {
    return run_blend(params);
  } catch (const std::bad_alloc&) {
    // Loading, selection and writing allocate outside the blend's own guard; the output is
    // only ever renamed into place at the very end, so nothing half-written remains.
    std::fprintf(stderr, "%s: the work needed more memory than is available\n", blend_program);
    return 1;
  }
}
