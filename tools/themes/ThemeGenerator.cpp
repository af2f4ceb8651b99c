// Writes the shipped slideshow themes into a folder: the catalogue "SlideShowTheme.xml" and, in a
// folder per theme, its scene file, parameter file, pictures, thumbnail and music.
//   kpv_theme_gen <output folder>
#include <QDir>
#include <QGuiApplication>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <cstdio>

#include "ThemeArt.h"
#include "Themes.h"

using namespace themes;

namespace {

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(bytes);
    return f.commit();
}

bool writeImage(const QString& path, const QImage& image) {
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && image.save(&f, "PNG") && f.commit();
}

QByteArray paramFile(const Theme& theme) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("ThemeParam");
    xml.writeAttribute("FrameRate", QString::number(kFrameRate));
    for (const Group& g : theme.groups) {
        xml.writeStartElement("Group");
        xml.writeAttribute("Start", QString::number(g.start));
        for (const std::string& mesh : g.meshes) {
            xml.writeStartElement("Mask");
            xml.writeAttribute("Element", QString::fromStdString(mesh));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

bool writeTheme(const QDir& root, const Theme& theme, QXmlStreamWriter& catalogue) {
    const QString folder = QString::fromStdString(theme.folder);
    if (!root.mkpath(folder)) return false;
    const QDir dir(root.filePath(folder));
    auto file = [&](const char* suffix) { return folder + QLatin1String(suffix); };
    bool ok = writeImage(dir.filePath(file("-thumb.png")), drawThumbnail(theme)) &&
              writeMusic(theme, dir.filePath(file("-music.wav")));
    catalogue.writeStartElement("Theme");
    catalogue.writeAttribute("ID", QString::number(theme.id));
    catalogue.writeAttribute("GroupID", QString::number(theme.threeD ? 2 : 1));
    catalogue.writeAttribute("Type", theme.threeD ? "3D" : "2D");
    catalogue.writeAttribute("Name", QString::fromStdString(theme.name));
    catalogue.writeAttribute("Folder", folder);
    catalogue.writeAttribute("Thumb", file("-thumb.png"));
    catalogue.writeAttribute("Music", file("-music.wav"));
    if (theme.threeD) {
        catalogue.writeAttribute("Scene", "theme.ziz");
        catalogue.writeAttribute("Param", "theme.xml");
        const std::vector<uint8_t> scene = writeScene(theme.scene);
        ok = ok && writeBytes(dir.filePath("theme.ziz"), QByteArray(reinterpret_cast<const char*>(scene.data()), qsizetype(scene.size()))) &&
             writeBytes(dir.filePath("theme.xml"), paramFile(theme)) &&
             writeImage(dir.filePath(file("-background.png")), drawBackground(theme)) &&
             writeImage(dir.filePath(file("-background-above.png")), drawBackgroundEdge(theme, BackgroundEdge::Above)) &&
             writeImage(dir.filePath(file("-background-below.png")), drawBackgroundEdge(theme, BackgroundEdge::Below)) &&
             writeImage(dir.filePath(file("-background-side.png")), drawBackgroundEdge(theme, BackgroundEdge::Side)) &&
             writeImage(dir.filePath(file("-mask.png")), drawMask(theme)) &&
             writeImage(dir.filePath(file("-card.png")), drawCard(theme));
        if (theme.layout == Layout::Pages) ok = ok && writeImage(dir.filePath(file("-cover.png")), drawCover(theme));
    }
    catalogue.writeEndElement();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kpv_theme_gen <output folder>\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath(".")) {
        std::fprintf(stderr, "kpv_theme_gen: cannot make %s\n", argv[1]);
        return 1;
    }
    QByteArray out;
    QXmlStreamWriter catalogue(&out);
    catalogue.setAutoFormatting(true);
    catalogue.writeStartDocument();
    catalogue.writeStartElement("SlideShowTheme");
    for (const Theme& theme : shippedThemes()) {
        if (!writeTheme(root, theme, catalogue)) {
            std::fprintf(stderr, "kpv_theme_gen: cannot write the theme %s\n", theme.folder.c_str());
            return 1;
        }
    }
    catalogue.writeEndElement();
    catalogue.writeEndDocument();
    if (!writeBytes(root.filePath("SlideShowTheme.xml"), out)) {
        std::fprintf(stderr, "kpv_theme_gen: cannot write the catalogue\n");
        return 1;
    }
    return 0;
}
