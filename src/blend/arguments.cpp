// Argument parsing of the batch command: flags into blend_params, every mistake one line.
#include <charconv>

#include "blend_command.h"
#include "image_io.h"

namespace {

// "X,Y" with two decimal integers (either may be negative: the selection may hang over the
// background's edge, or miss it, which the run then reports).
bool parse_position(const std::string& text, int position[2]) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto first = std::from_chars(begin, begin + comma, position[0]);
  if (first.ec != std::errc() || first.ptr != begin + comma) return false;
  const auto second = std::from_chars(begin + comma + 1, end, position[1]);
  return second.ec == std::errc() && second.ptr == end && comma + 1 < text.size();
}

bool parse_mode(const std::string& text, blend_mode& mode) {
  if (text == "normal")
    mode = blend_mode::normal;
  else if (text == "mixed")
    mode = blend_mode::mixed;
  else if (text == "paste")
    mode = blend_mode::paste;
  else
    return false;
  return true;
}

}  // namespace

std::string blend_usage() {
  return std::string("Usage: ") + blend_program +
         " [OPTIONS] BACKGROUND OBJECT OUTPUT\n"
         "Blends a region of OBJECT seamlessly into BACKGROUND and writes the result to OUTPUT\n"
         "(.png, .jpg/.jpeg at quality 95, .bmp or .tga, chosen by the extension).\n"
         "\n"
         "Selection, exactly one of:\n"
         "  --outline FILE        closed outline on OBJECT: one \"x y\" pixel pair per line\n"
         "                        (x from the left, y from the top; '#' starts a comment line;\n"
         "                        at least 4 points)\n"
         "  --mask FILE           image of OBJECT's size; pixels with red, green or blue >= 128\n"
         "                        are selected\n"
         "Options:\n"
         "  --at X,Y              BACKGROUND pixel where the selection's centre lands\n"
         "                        (default: the centre of BACKGROUND)\n"
         "  --mode MODE           normal (seamless, default), mixed (keeps the stronger of the\n"
         "                        object's and the background's gradients) or paste (plain copy)\n"
         "  --solver SOLVER       auto (default), lu (direct) or multigrid (large selections)\n"
         "  --save-selection FILE also write the selection as a mask image for --mask\n"
         "  -v                    print the number of unknowns and the time of each stage\n"
         "  -h, --help            print this help and exit\n"
         "  --version             print the version and exit\n"
         "\n"
         "Exit status: 0 done, 1 runtime error (OUTPUT left as it was), 2 usage error.\n";
}

parse_result parse_blend_arguments(const std::vector<std::string>& arguments, blend_params& params,
                                   std::string& error) {
  std::vector<std::string> operands;
  bool options_ended = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string flag = arguments[i];
    if (options_ended || flag.empty() || flag[0] != '-' || flag == "-") {
      operands.push_back(flag);
      continue;
    }
    if (flag == "--") {
      options_ended = true;
      continue;
    }
    if (flag == "-h" || flag == "--help") return parse_result::help;
    if (flag == "--version") return parse_result::version;
    if (flag == "-v" || flag == "--verbose") {
      params.verbose = true;
      continue;
    }
    // Flags with a value: "--flag VALUE" or "--flag=VALUE".
    std::string value;
    bool has_value = false;
    const size_t equals = flag.find('=');
    if (flag.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = flag.substr(equals + 1);
      flag = flag.substr(0, equals);
      has_value = true;
    }
    const bool takes_value = flag == "--outline" || flag == "--mask" || flag == "--at" ||
                             flag == "--mode" || flag == "--solver" || flag == "--save-selection";
    if (!takes_value) {
      error = "unknown option '" + arguments[i] + "'";
      return parse_result::usage_error;
    }
    if (!has_value) {
      if (i + 1 >= arguments.size()) {
        error = "option " + flag + " needs a value";
        return parse_result::usage_error;
      }
      value = arguments[++i];
    }
    if (value.empty()) {
      error = "option " + flag + " needs a non-empty value";
      return parse_result::usage_error;
    }
    if (flag == "--outline") {
      params.outline = value;
    } else if (flag == "--mask") {
      params.mask = value;
    } else if (flag == "--save-selection") {
      params.save_selection = value;
    } else if (flag == "--at") {
      if (!parse_position(value, params.position)) {
        error = "--at expects X,Y (two integers, e.g. --at 500,436), not '" + value + "'";
        return parse_result::usage_error;
      }
      params.has_position = true;
    } else if (flag == "--mode") {
      if (!parse_mode(value, params.options.mode)) {
        error = "--mode must be normal, mixed or paste, not '" + value + "'";
        return parse_result::usage_error;
      }
    } else if (!parse_solver_choice(value, params.options.solver)) {
      error = "--solver must be auto, lu or multigrid, not '" + value + "'";
      return parse_result::usage_error;
    }
  }

  if (operands.size() != 3) {
    error = "expected BACKGROUND OBJECT OUTPUT, got " + std::to_string(operands.size()) +
            (operands.size() == 1 ? " file name" : " file names");
    return parse_result::usage_error;
  }
  params.background = operands[0];
  params.object = operands[1];
  params.output = operands[2];
  if (params.outline.empty() == params.mask.empty()) {
    error = params.outline.empty() ? "give the selection with --outline FILE or --mask FILE"
                                   : "give only one of --outline and --mask";
    return parse_result::usage_error;
  }
  if (!is_supported_output(params.output)) {
    error = "cannot tell the format of output '" + params.output +
            "': use the extension .png, .jpg, .jpeg, .bmp or .tga";
    return parse_result::usage_error;
  }
  if (!params.save_selection.empty() && !is_supported_output(params.save_selection)) {
    error = "cannot tell the format of --save-selection '" + params.save_selection +
            "': use the extension .png (lossless), .bmp, .tga, .jpg or .jpeg";
    return parse_result::usage_error;
  }
  return parse_result::run;
}
