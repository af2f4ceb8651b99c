#pragma once
// The saved sign-in of one share site. The sharing feature makes it after a sign-in; the settings
// keep its dictionary whole (unknown keys included) and hand it back unchanged.
//
// Header-only: the settings in app_model use it, and app_share links app_model.

#include <QString>
#include <QVariantMap>

class ShareAutoLoginInfo {
public:
    static constexpr const char* kUserIDKey = "userID";
    static constexpr const char* kAccessTokenKey = "accessToken";
    static constexpr const char* kTokenSecretKey = "tokenSecret";
    static constexpr const char* kUserNameKey = "userName";

    ShareAutoLoginInfo() = default;
    explicit ShareAutoLoginInfo(QVariantMap dictionary) : dict_(std::move(dictionary)) {}
    ShareAutoLoginInfo(const QString& userID, const QString& accessToken, const QString& tokenSecret,
                       const QString& userName)
    {
        dict_.insert(kUserIDKey, userID);
        dict_.insert(kAccessTokenKey, accessToken);
        dict_.insert(kTokenSecretKey, tokenSecret);
        dict_.insert(kUserNameKey, userName);
    }

    QString userID() const { return dict_.value(kUserIDKey).toString(); }
    QString accessToken() const { return dict_.value(kAccessTokenKey).toString(); }
    QString tokenSecret() const { return dict_.value(kTokenSecretKey).toString(); }
    QString userName() const { return dict_.value(kUserNameKey).toString(); }

    // The stored form, exactly as it was made or read.
    const QVariantMap& dictionary() const { return dict_; }
    bool isEmpty() const { return dict_.isEmpty(); }

    friend bool operator==(const ShareAutoLoginInfo& a, const ShareAutoLoginInfo& b) { return a.dict_ == b.dict_; }

private:
    QVariantMap dict_;
};
