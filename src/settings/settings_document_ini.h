// The definition of the settings document over SimpleIni.
#pragma once

// ASCII case folding for section and key names, and no wide-character converter: the document is
// UTF-8 bytes throughout, and nothing here may pull in a system header of the Windows API.
#ifndef SI_NO_CONVERSION
#define SI_NO_CONVERSION
#endif
#include <SimpleIni.h>

#include <string>

#include "settings/settings_document.h"

namespace gleanery {

struct SettingsDocument {
    CSimpleIniA ini{/*isUtf8=*/true, /*multiKey=*/false, /*multiLine=*/true};
    // The comment block at the very top of the loaded file. SimpleIni keeps it privately; our
    // writer needs it to put it back.
    std::string fileComment;
    // The settings file exists but could not be read in this load-save cycle. A save would
    // replace it with a document that holds only this cycle's changes, so it is refused.
    bool loadFailed = false;
};

} // namespace gleanery
