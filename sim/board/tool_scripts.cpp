// The board's scripts made from the templates of sim/board/templates.
// ZQ_BOARD_TOOL_DIR (the directory of the tool program's names) and
// ZQ_BOARD_TOOL_EMULATOR (the emulator's quoted words in a cross build, else
// empty) come from the build.
#include "board/tool_scripts.h"

#include <cstring>

#include "board/embedded_file.h"

namespace zq::sim {

std::string fill_template(const char *name, const TemplateValues &values) {
    std::string text;
    for (const EmbeddedFile *f = kBoardTemplates; f->name; ++f)
        if (std::strcmp(f->name, name) == 0) text = f->text;
    for (const auto &[key, value] : values)
        for (size_t at = text.find(key); at != std::string::npos;
             at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    return text;
}

std::string board_tool_exec(const std::string &name) {
    std::string emulator = ZQ_BOARD_TOOL_EMULATOR;
    return "ZQ_TOOL_AS=\"$0\" exec " + (emulator.empty() ? "" : emulator + " ") + "'" +
           ZQ_BOARD_TOOL_DIR + "/" + name + "' \"$@\"";
}

std::string board_tool_script(const std::string &name) {
    return fill_template("tool", {{"@NAME@", name}, {"@EXEC@", board_tool_exec(name)}});
}

std::string refusing_tool_script(const std::string &name) {
    return fill_template("refusing_tool",
                         {{"@NAME@", name}, {"@EXEC@", board_tool_exec("refuse")}});
}

}  // namespace zq::sim
