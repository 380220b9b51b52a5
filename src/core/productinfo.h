#pragma once

#include <QLatin1String>

// The product's own web addresses, each ending with "/".
inline constexpr QLatin1String ProductWebSite("https://bundlewick.org/");
// Base address of the online help; a topic is "<base>#<context>-en".
inline constexpr QLatin1String ProductHelpSite("https://bundlewick.org/help/");
// Where the support e-mail goes.
inline constexpr QLatin1String ProductSupportEmail("support@bundlewick.org");
// The subject a support message starts with.
inline constexpr QLatin1String ProductSupportSubject("About Bundlewick");
