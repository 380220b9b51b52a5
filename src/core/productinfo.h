#pragma once

#include <QLatin1String>

// The product's own web addresses, each ending with "/".
inline constexpr QLatin1String ProductWebSite("https://bundlewick.org/");
inline constexpr QLatin1String ProductHelpSite("https://bundlewick.org/help/");
