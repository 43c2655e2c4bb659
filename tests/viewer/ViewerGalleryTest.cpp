// Return on a picture shows its folder as a grid of thumbnails; keys move the selection,
// Return opens it, Escape goes back, Delete asks as the viewer does.
#include "viewer/FormViewerGallery.h"
#include "viewer/ViewerFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace {

using pictrel::test::PumpUntil;
using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

class ViewerGallery : public ViewerWindow {
protected:
    void SetUp() override {
        ViewerWindow::SetUp();
        for (int i = 0; i < 5; ++i) WritePicture(Path(Name(i)), kColours[i], 90, 60);
        m_form->OpenFile(Path(Name(2)));
        ASSERT_TRUE(WaitShown(Name(2)));
    }
    static QString Name(int i) { return QStringLiteral("p%1.png").arg(i); }
    void Press(QWidget* target, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    bool WaitThumbnails() {
        return PumpUntil([&] { return m_form->Gallery->VisibleDone(); });
    }
    static constexpr QRgb kColours[5] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00,
                                         0xFF00FFFF};
};

TEST_F(ViewerGallery, ReturnShowsTheFolderWithTheShownPictureSelected) {
    Press(m_form.get(), Qt::Key_Return);
    ASSERT_TRUE(m_form->Gallery->isVisible());
    EXPECT_FALSE(m_form->ImgView32->isVisible());
    EXPECT_EQ(m_form->windowTitle(), m_dir.path().section(u'/', -1) + " - Pictrel");
    EXPECT_EQ(m_form->Gallery->Files().size(), 5);
    EXPECT_EQ(m_form->Gallery->Selected(), 2);
    ASSERT_TRUE(WaitThumbnails());
    // Each cell shows its own picture.
    const QImage shot = m_form->Gallery->grab().toImage();
    for (int i = 0; i < 5; ++i) {
        const QPoint centre = m_form->Gallery->Grid().PictureRect(i).center();
        if (!m_form->Gallery->rect().contains(centre)) continue;
        EXPECT_EQ(shot.pixel(centre * shot.devicePixelRatio()), kColours[i]) << i;
    }
}

TEST_F(ViewerGallery, ReturnOpensTheSelectionAndEscapeGoesBack) {
    Press(m_form.get(), Qt::Key_Return);
    Press(m_form->Gallery, Qt::Key_Escape);
    EXPECT_FALSE(m_form->Gallery->isVisible());
    EXPECT_EQ(m_form->windowTitle(), Name(2) + " - Pictrel");

    Press(m_form.get(), Qt::Key_Return);
    Press(m_form->Gallery, Qt::Key_Right);
    Press(m_form->Gallery, Qt::Key_Right);
    Press(m_form->Gallery, Qt::Key_Return);
    EXPECT_FALSE(m_form->Gallery->isVisible());
    ASSERT_TRUE(WaitShown(Name(4)));
    EXPECT_EQ(Centre(), kColours[4]);
}

TEST_F(ViewerGallery, DeleteAsksAndTheGridLosesTheFile) {
    Press(m_form.get(), Qt::Key_Return);
    Press(m_form->Gallery, Qt::Key_Home);
    Press(m_form->Gallery, Qt::Key_Delete);
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_questions[0].endsWith(Name(0))) << m_questions[0].toStdString();
    EXPECT_FALSE(QFile::exists(Path(Name(0))));
    EXPECT_EQ(m_form->Gallery->Files().size(), 4);
    EXPECT_TRUE(m_form->Gallery->isVisible());
    // The picture on screen was not the one deleted: it stays.
    Press(m_form->Gallery, Qt::Key_Escape);
    EXPECT_EQ(m_form->windowTitle(), Name(2) + " - Pictrel");
}

// The selection leaves as a file: Ctrl+C and a drag carry its URI.
TEST_F(ViewerGallery, CopyAndDragCarryTheSelectedFile) {
    Press(m_form.get(), Qt::Key_Return);
    Press(m_form->Gallery, Qt::Key_End);
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QApplication::sendEvent(m_form->Gallery, &copy);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(Path(Name(4)))});
    EXPECT_EQ(data->text(), QDir::toNativeSeparators(Path(Name(4))));
    const std::unique_ptr<QMimeData> drag(m_form->Gallery->DragData(1));
    EXPECT_EQ(drag->urls(), QList<QUrl>{QUrl::fromLocalFile(Path(Name(1)))});
}

// Work follows the view: scrolled to the end, nothing is made for the first rows any more.
TEST(GalleryWork, CellsScrolledFarAwayAreNotWorkedFor) {
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 120; ++i)
        files << WritePicture(dir.filePath(QStringLiteral("f%1.png").arg(i, 3, 10, QChar('0'))),
                              0xFF000000u | QRgb(i * 2000), 40, 30);
    TGalleryView view;
    view.resize(400, 300);
    view.show();
    view.SetFiles(files, 0);
    const int last = view.Grid().VisibleRange().second;
    const QStringList early = view.Pending();
    ASSERT_FALSE(early.isEmpty());
    for (const QString& f : early) EXPECT_LT(files.indexOf(f), last + 2 * view.Grid().Columns());
    view.SetFiles(files, 119);
    const int endFirst = view.Grid().VisibleRange().first;
    ASSERT_GT(endFirst, last);
    for (const QString& f : view.Pending())
        EXPECT_GE(files.indexOf(f), endFirst - 4 * view.Grid().Columns()) << f.toStdString();
    EXPECT_TRUE(PumpUntil([&] { return view.VisibleDone(); }));
}

} // namespace
