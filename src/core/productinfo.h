#pragma once

// Fixed facts about the product.

// The product's web site.
inline constexpr char ProductWebSite[] = "https://bundlewick.org/";
// Base address of the online help; a topic is "<base>#<context>-en".
inline constexpr char ProductHelpSite[] = "https://bundlewick.org/help/";
