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
