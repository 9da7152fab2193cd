#include "engine/paths.h"

#include "platform/files.h"

namespace gleanery {

std::u16string ToLongForm(const std::u16string& path) {
    const bool unc = path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
    std::u16string longForm(unc ? u"\\\\?\\UNC" : u"\\\\?\\");
    longForm.append(path, unc ? 1 : 0);
    return longForm;
}

std::u16string DisplayPath(const std::u16string& path) {
    if (path.size() >= 7 && path.compare(0, 7, u"\\\\?\\UNC") == 0) {
        std::u16string shown(1, u'\\');
        shown.append(path, 7);
        return shown;
    }
    if (path.size() >= 4 && path.compare(0, 4, u"\\\\?\\") == 0) return path.substr(4);
    return path;
}

std::u16string AccessName(const std::u16string& fullName) {
    std::u16string name;
    AssignAccessName(fullName, name);
    return name;
}

void AssignAccessName(const std::u16string& fullName, std::u16string& name) {
    if (fullName.size() >= kMaxPath && platform::UsesLongPathPrefix())
        name = ToLongForm(fullName);
    else
        name.assign(fullName);
}

std::u16string FileNamePart(const std::u16string& path) {
    const size_t sep = path.find_last_of(u"\\/");
    return sep == std::u16string::npos ? path : path.substr(sep + 1);
}

} // namespace gleanery
