// The dialog's Japanese texts reach the screen as glyphs.
#include <QFileDialog>
#include <QFontDatabase>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QRawFont>
#include <gtest/gtest.h>

#include "app/song_dialogs.hpp"

namespace {

QImage drawn(const QFont& font, const QString& text) {
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, 64, 64), Qt::AlignCenter, text);
    return image;
}

// Every character of the dialog title and of the message is in the font Qt picks for Japanese
// text in the widget's font, and each draws as itself, not as the box of a missing glyph.
TEST(DialogTexts, JapaneseTextsHaveGlyphs) {
    const auto dialog = rkv::makeSongFileDialog(nullptr);
    const auto box = rkv::makeInvalidFileBox(nullptr);
    const std::pair<QFont, QString> texts[] = {{dialog->font(), dialog->windowTitle()},
                                               {box->font(), box->text()}};
    for (const auto& [font, text] : texts) {
        const QRawFont raw = QRawFont::fromFont(font, QFontDatabase::Japanese);
        ASSERT_TRUE(raw.isValid()) << "no font for Japanese text: install fonts-vlgothic";
        // A private-use character no font draws: Qt shows its missing-glyph box.
        const QImage missing = drawn(font, QString(QChar(0xE83A)));
        for (const QChar c : text) {
            if (c.unicode() < 0x80) continue;
            EXPECT_TRUE(raw.supportsCharacter(c))
                << raw.familyName().toStdString() << " lacks U+" << std::hex << int(c.unicode());
            EXPECT_NE(drawn(font, QString(c)), missing) << "U+" << std::hex << int(c.unicode());
        }
    }
}

} // namespace
