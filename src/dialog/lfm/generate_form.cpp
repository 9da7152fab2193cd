// Build-time tool: writes the settings dialog's Lazarus form, and a C++ source that holds it for
// the plug-in.   gleanery_form <form.lfm> <form.cpp>
#include <exception>
#include <fstream>
#include <iostream>

#include "dialog/lfm/lfm_writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: gleanery_form <form.lfm> <form.cpp>\n";
        return 2;
    }
    try {
        const std::string lfm = gleanery::dialog::SettingsFormLfm();
        std::ofstream(argv[1], std::ios::binary) << lfm;
        std::ofstream source(argv[2], std::ios::binary);
        source << "// Generated at build time by gleanery_form from the dialog's control table;\n"
                  "// not to be edited or committed.\n"
                  "#include \"dialog/doublecmd/settings_form.h\"\n\n"
                  "namespace gleanery::dialog {\n\n"
                  "std::string_view SettingsForm() {\n"
                  "    return R\"lfm("
               << lfm
               << ")lfm\";\n}\n\n"
                  "} // namespace gleanery::dialog\n";
        return source && std::ofstream(argv[1], std::ios::app) ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "gleanery_form: " << e.what() << "\n";
        return 1;
    }
}
