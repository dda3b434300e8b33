#pragma once
// Little CMS behind the colour module: one context whose allocations are bounded while
// an untrusted profile is read and its transform built, its messages recorded instead
// of printed, and the profiles the module opens or builds.
#include "picture/colour.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <lcms2.h>
#include <memory>

namespace pel::picture::colour::detail {

// What lcms may allocate, in all, while one profile is read and its transform made.
// Ghostscript's CMYK press profile and its transform add up to 2.5 MB; press profiles
// with finer grids, a few times that.
inline constexpr std::size_t kWorkBudget = std::size_t(48) << 20;

// The module's lcms context (made once, never freed).
cmsContext context();

// While one lives, lcms's allocations on this thread add up, and fail once they would
// pass `limit` bytes: lcms then gives up cleanly.
class WorkBudget {
public:
    explicit WorkBudget(std::size_t limit = kWorkBudget);
    ~WorkBudget();
    WorkBudget(const WorkBudget &) = delete;
    WorkBudget &operator=(const WorkBudget &) = delete;
    bool exceeded() const;
    std::size_t used() const;

private:
    std::size_t savedLimit_, savedUsed_;
    bool savedOn_, savedExceeded_;
};

// The last message lcms gave on this thread, and forgets it.
QString takeLcmsMessage();

struct ProfileCloser {
    void operator()(void *profile) const
    {
        if (profile)
            cmsCloseProfile(profile);
    }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// Opens an embedded profile. Refused before lcms sees it: over kMaxProfileBytes, no
// ICC header, a declared size or a tag table that does not fit. Then refused where
// lcms cannot read it, or where it is not a device profile (a link, an abstract or a
// named-colour profile). *why says why.
Profile openIcc(const QByteArray &bytes, QString *why);

// The profile a SourceProfile describes; nullptr with *why set when it cannot be made.
Profile makeProfile(const SourceProfile &source, QString *why);
Profile makeBuiltin(Builtin space);

// The standard CMYK press profile from `paths` (the first that opens as a CMYK
// profile), or a device link from plain ink colours to sRGB. *source names which.
Profile makeStandardCmyk(const QStringList &paths, QString *source);

}  // namespace pel::picture::colour::detail
