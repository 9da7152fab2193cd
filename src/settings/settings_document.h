// The settings document: the settings file as read, held between a load and a save so that what
// this program does not know (other sections and keys, comments) survives a save. Its definition
// over SimpleIni is in settings_document_ini.h, for the sources that read and write it; everyone
// else holds it through this header.
#pragma once

#include <memory>

namespace gleanery {

struct SettingsDocument;
struct SettingsDocumentDeleter {
    void operator()(SettingsDocument* doc) const;
};
using SettingsDocumentPtr = std::unique_ptr<SettingsDocument, SettingsDocumentDeleter>;

SettingsDocumentPtr NewSettingsDocument();
// Empties the document, as at the start of a load-save cycle.
void ResetSettingsDocument(SettingsDocument& doc);
bool SettingsDocumentIsEmpty(const SettingsDocument& doc);

} // namespace gleanery
