#include "files/FileIdentity.h"

namespace quorvane {

bool FileIdentity::operator==(const FileIdentity& other) const {
    const bool numbered = indexLasts && other.indexLasts;
    return device == other.device && (!numbered || index == other.index) && size == other.size &&
           modified == other.modified && changed == other.changed && sample == other.sample;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.indexLasts && b.indexLasts) {
        return a.device == b.device && a.index == b.index;
    }
    return a == b;
}

}  // namespace quorvane
