#pragma once

#include <QLatin1String>

// BW_WEB_SITE and BW_SUPPORT_EMAIL come from the build's options of the same
// names; empty unless whoever builds the program runs a site or answers
// mail for it. Every user of these leaves out what needs an empty one.
#include "core/productconfig.h"

// The product's web site, as the build gives it.
inline constexpr QLatin1String ProductWebSite(BW_WEB_SITE);
// Where the support e-mail goes.
inline constexpr QLatin1String ProductSupportEmail(BW_SUPPORT_EMAIL);
// The subject a support message starts with.
inline constexpr QLatin1String ProductSupportSubject("About Bundlewick");
