#pragma once
// A slideshow theme as the catalogue "SlideShowTheme.xml" lists it, and the readers of the
// catalogue and of a theme's parameter file. Both files come from theme packages, which users may
// install themselves, so they are read as untrusted input: a file that does not parse is an error
// with a message, an entry that lacks what it needs is skipped, and every file a theme names must
// lie inside the theme's own folder.
//
// Catalogue:
//   <SlideShowTheme>
//     <Theme ID="12" GroupID="1" Type="3D" Name="..." Folder="..." Scene="..." Param="..."
//            Thumb="..." Music="..."/>
//   </SlideShowTheme>
// Type is "2D" (a normal theme: transitions only) or "3D" (Scene and Param are required).
// Parameter file:
//   <ThemeParam FrameRate="24">
//     <Group Start="0"><Mask Element="..."/>...</Group>...
//   </ThemeParam>
// Each group names the photo meshes that one group of slides is put on, in slide order; the
// mesh's own texture in the scene file is its mask (the shape the photo shows through). Start is
// the frame at which the group comes on screen; once the next group has started, the player
// puts new photos on the one before.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

struct SlideshowTheme {
    enum Type { Normal = 1, ThreeD = 2 };
    qint64 themeID = 0;
    qint64 groupID = 0;
    Type type = Normal;
    QString name;
    QString folder;    // absolute
    QString sceneFile; // absolute, 3D only
    QString paramFile; // absolute, 3D only
    QString thumbFile; // absolute or empty
    QString musicFile; // absolute or empty
};

struct SlideshowThemeParam {
    float frameRate = 24.0f;
    std::vector<QStringList> maskGroups;
    // The frame each group starts at, one per group; -1 when the file gives none.
    std::vector<float> groupStartFrames;
};

struct SlideshowThemeCatalogue {
    std::vector<SlideshowTheme> themes;
    // Entries left out, one line each ("entry 3: no Scene").
    QStringList skipped;
};

// Parses catalogue bytes; `baseFolder` is the folder that holds the catalogue and the theme
// folders. Returns false with `error` set when the bytes are not a catalogue at all; an empty
// catalogue is valid.
bool parseSlideshowThemeCatalogue(const QByteArray& bytes, const QString& baseFolder, SlideshowThemeCatalogue* out,
                                  QString* error);
bool parseSlideshowThemeParam(const QByteArray& bytes, SlideshowThemeParam* out, QString* error);
// `name` resolved inside `folder`; empty when it is absolute, empty or leaves the folder.
QString resolveThemeFile(const QString& folder, const QString& name);
