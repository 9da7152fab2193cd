#include "settings/settings_document.h"

#include "settings/settings_document_ini.h"

namespace gleanery {

void SettingsDocumentDeleter::operator()(SettingsDocument* doc) const {
    delete doc;
}

SettingsDocumentPtr NewSettingsDocument() {
    return SettingsDocumentPtr(new SettingsDocument());
}

void ResetSettingsDocument(SettingsDocument& doc) {
    doc.ini.Reset();
    doc.fileComment.clear();
    doc.loadFailed = false;
}

bool SettingsDocumentIsEmpty(const SettingsDocument& doc) {
    return doc.ini.IsEmpty() && doc.fileComment.empty();
}

} // namespace gleanery
