// The texts the plug-in library writes about itself when it registers its encoders.
#pragma once

inline constexpr char16_t ZrVendorCompany[] = u"Tessary Audio";
inline constexpr char16_t ZrVendorUrl[] = u"https://tessary.example/encoders";
inline constexpr char16_t ZrVendorCopyright[] = u"Copyright (c) 2026 Tessary Audio";
inline constexpr char16_t ZrPluginVersion[] = u"1.0.1";
inline constexpr char16_t ZrPluginDescription[] = u"Vantor main encoder plug-ins.";
