#pragma once

#include <QLatin1String>

// The product's own web addresses, each ending with "/".
inline constexpr QLatin1String ProductWebSite("https://bundlewick.org/");
// Base address of the online help; a topic is "<base>#<context>-en".
inline constexpr QLatin1String ProductHelpSite("https://bundlewick.org/help/");
