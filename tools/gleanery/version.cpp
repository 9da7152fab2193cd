#include "version.h"

#include <pcre.h>

#ifndef GLEANERY_VERSION
#define GLEANERY_VERSION "unknown"
#endif

namespace gleanery::cli {

std::string VersionText(const std::string& pluginPath) {
    int jit = 0;
    if (pcre_config(PCRE_CONFIG_JIT, &jit) != 0) jit = 0;
    return std::string("gleanery " GLEANERY_VERSION
                       " (command-line host of the Gleanery " GLEANERY_VERSION
                       " plug-in)\nplug-in library: ") +
           pluginPath + "\nPCRE " + pcre_version() +
           (jit ? ", JIT compiler available\n" : ", no JIT compiler (interpreter only)\n");
}

} // namespace gleanery::cli
