#pragma once
// The application's share targets. The numbers are stored in the settings ("curShareWebsiteType")
// and name the per-site sign-in keys, so they must never change.
//
// Header-only: the settings in app_model use it, and app_share links app_model.

enum ShareWebsiteType : int {
    ShareWebsiteTypeNone = 0,
    ShareWebsiteTypeFacebook = 1,
    ShareWebsiteTypeFlickr = 2,
    ShareWebsiteTypeTwitter = 3,
    ShareWebsiteTypeTumblr = 4,
    ShareWebsiteTypeEmail = 33,
    ShareWebsiteTypePhotoLibrary = 34,
};

// The sites that have an account to sign in to, in the order the settings write their sign-ins.
inline constexpr ShareWebsiteType kShareSignInWebsiteTypes[] = {
    ShareWebsiteTypeFacebook, ShareWebsiteTypeFlickr, ShareWebsiteTypeTwitter, ShareWebsiteTypeTumblr};

// What the program shows and runs for each share target: the menu command (action id) that
// shares to it, the skin image of its button and the string key of its tool tip.
struct ShareWebsiteTypeInfo {
    ShareWebsiteType type;
    long actionId;
    const char* imageName;
    const char* toolTipKey;
};

inline constexpr ShareWebsiteTypeInfo kShareWebsiteTypeInfos[] = {
    {ShareWebsiteTypeFacebook, 21, "E_FACEBOOK", "IDS_SharetoFacebook"},
    {ShareWebsiteTypeFlickr, 23, "E_FLICK", "IDS_SharetoFlickr"},
    {ShareWebsiteTypeTwitter, 22, "E_TWITTER", "IDS_SharetoTwitter"},
    {ShareWebsiteTypeTumblr, 24, "e_tumblr", "IDS_SharetoTumblr"},
    {ShareWebsiteTypeEmail, 25, "e_email", "IDS_SharetoEmail"},
    {ShareWebsiteTypePhotoLibrary, 26, "e_iphoto", "IDS_SharetoIPhoto"},
};

// The entry of a share type, or nullptr for a number that names no target.
constexpr const ShareWebsiteTypeInfo* shareWebsiteTypeInfo(long type)
{
    for (const ShareWebsiteTypeInfo& info : kShareWebsiteTypeInfos)
        if (info.type == type)
            return &info;
    return nullptr;
}

// The action id of the command that shares to this target, or 0.
constexpr long shareActionForWebsiteType(long type)
{
    const ShareWebsiteTypeInfo* info = shareWebsiteTypeInfo(type);
    return info ? info->actionId : 0;
}
