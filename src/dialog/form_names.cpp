#include "dialog/form_names.h"

#include <array>
#include <utility>

namespace gleanery::dialog {

namespace {

constexpr std::array<std::pair<int, std::string_view>, 54> kFormNames{{
    {1, "btnOK"},
    {2, "btnCancel"},
    {1000, "lblRegex"},
    {1001, "btnGroup"},
    {1002, "btnPlaceholders"},
    {1003, "btnQuote"},
    {1004, "memRegex"},
    {1005, "lblStatus"},
    {1006, "btnFont"},
    {1007, "lblReplace"},
    {1008, "memReplace"},
    {1009, "chkNoDuplicates"},
    {1010, "chkBinaryMode"},
    {1011, "chkSearchAndReplace"},
    {1012, "chkLineMode"},
    {1013, "chkCaseSensitive"},
    {1014, "chkDotall"},
    {1015, "chkMultiline"},
    {1016, "chkUnicodeProperties"},
    {1017, "chkEmptyValid"},
    {1018, "lblMemory"},
    {1019, "cbMemory"},
    {1020, "lblEncodingCheck"},
    {1021, "cbEncodingCheck"},
    {1022, "chkWriteStats"},
    {1023, "chkCopyClip"},
    {1024, "chkDeleteCopied"},
    {1025, "chkWriteBom"},
    {1026, "lblDefaultCharacter"},
    {1027, "cbDefaultCharacter"},
    {1028, "lblCodePage"},
    {1029, "cbCodePage"},
    {1030, "cbOutfileExtension"},
    {1031, "btnTestToggle"},
    {1032, "btnTestStart"},
    {1033, "btnTestNext"},
    {1034, "btnSubgroupDown"},
    {1035, "btnSubgroupUp"},
    {1036, "cbPresets"},
    {1037, "btnPresetLoad"},
    {1038, "btnPresetDelete"},
    {1039, "btnPresetAdd"},
    {1040, "btnAbout"},
    {1041, "btnLoadDefaults"},
    {1042, "btnRegexHelp"},
    {1043, "btnReplaceHelp"},
    {1044, "memHelp"},
    {1045, "gbModes"},
    {1046, "gbPcreOptions"},
    {1047, "gbMisc"},
    {1048, "gbRecoding"},
    {1049, "gbTest"},
    {1050, "gbOutfileExtension"},
    {1051, "gbPresets"},
}};

} // namespace

std::string_view FormNameOf(int id) {
    for (const auto& [controlId, name] : kFormNames)
        if (controlId == id) return name;
    return {};
}

int ControlIdOfFormName(std::string_view name) {
    for (const auto& [controlId, formName] : kFormNames)
        if (formName == name) return controlId;
    return 0;
}

} // namespace gleanery::dialog
