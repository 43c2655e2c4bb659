#include "app/AppContext.h"
#include "app/FileHelpers.h"
#include "common/TestSupport.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/ViewerZoom.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekHistogramLayer.h"
#include "loading/PartialLook.h"
#include "viewer/FormVekMain.h"
#include "viewer/ViewerFixture.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <memory>
#include <random>

namespace {

using pictrel::test::PumpUntil;
using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

constexpr QRgb kGrey = 0xFF808080;

TEST_F(ViewerWindow, StartsEmptyWithItsPlaceholderText) {
    PumpUntil([&] { return m_form->ImgView32->ViewWidth() > 0; });
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(2, 2), kGrey);
    // Dark text across the middle row, nothing but grey far above it.
    int dark = 0;
    for (int y = image.height() / 2 - 6; y < image.height() / 2 + 6; ++y)
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 64;
    EXPECT_GT(dark, 20);
}

TEST_F(ViewerWindow, StepsThroughTheFolderInNaturalOrderAndWraps) {
    WritePicture(Path("img_10.png"), 0xFF0000FF);
    WritePicture(Path("img_2.png"), 0xFF00FF00);
    WritePicture(Path("IMG_1.png"), 0xFFFF0000);
    WritePicture(Path("notes.txt"), 0xFF000000);
    m_form->OpenFile(Path("img_2.png"));
    ASSERT_TRUE(WaitShown("img_2.png"));
    EXPECT_EQ(m_form->FileList,
              QStringList({Path("IMG_1.png"), Path("img_2.png"), Path("img_10.png")}));
    EXPECT_EQ(Centre(), 0xFF00FF00u);

    struct {
        bool forward;
        const char* name;
        QRgb colour;
    } const steps[] = {{true, "img_10.png", 0xFF0000FF},
                       {true, "IMG_1.png", 0xFFFF0000},
                       {false, "img_10.png", 0xFF0000FF},
                       {false, "img_2.png", 0xFF00FF00}};
    for (const auto& s : steps) {
        m_form->Step(s.forward);
        ASSERT_TRUE(WaitShown(s.name)) << s.name;
        EXPECT_EQ(Centre(), s.colour) << s.name;
    }
}

TEST_F(ViewerWindow, QuickStepsShowOnlyTheLastRequestedFile) {
    for (int i = 0; i < 5; ++i) WritePicture(Path(QString("p%1.png").arg(i)), 0xFF000000 + i * 40);
    m_form->OpenFile(Path("p0.png"));
    ASSERT_TRUE(WaitShown("p0.png"));
    ASSERT_TRUE(PumpUntil([&] { return m_form->PrefetchDone; }));

    QStringList shownByLoader;
    auto succes = m_form->VekImageLoaderPro.OnSucces;
    m_form->VekImageLoaderPro.OnSucces = [&](TVekImageLoaderPro& loader) {
        if (m_form->ShowOnLoad) shownByLoader.append(QFileInfo(loader.FileName()).fileName());
        succes(loader);
    };
    m_form->Step(true); // the prefetched p1, at once
    EXPECT_EQ(m_form->windowTitle(), "p1.png - Pictrel");
    m_form->Step(true);
    m_form->Step(true);
    ASSERT_TRUE(WaitShown("p3.png"));
    EXPECT_EQ(shownByLoader, QStringList{"p3.png"});
}

TEST_F(ViewerWindow, StepsFasterThanDecodingWrapAndEndOnTheFileReached) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    WritePicture(Path("c.png"), 0xFF0000FF);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    for (int i = 0; i < 7; ++i) m_form->Step(true); // a key held: no decode ends meanwhile
    ASSERT_TRUE(WaitShown("b.png"));
    pictrel::test::PumpFor(100);
    EXPECT_EQ(m_form->windowTitle(), "b.png - Pictrel");
    EXPECT_EQ(Centre(), 0xFF00FF00u);
}

TEST_F(ViewerWindow, UnlistedFileIsShownAndSteppingStartsAtTheListsEnds) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    WritePicture(Path("c.png"), 0xFF0000FF);
    QFile::copy(Path("a.png"), Path("picture.unlisted"));
    for (const auto& [forward, name] : {std::pair(true, "a.png"), std::pair(false, "c.png")}) {
        m_form->OpenFile(Path("picture.unlisted"));
        ASSERT_TRUE(WaitShown("picture.unlisted"));
        EXPECT_TRUE(m_form->ImageLoaded);
        EXPECT_EQ(m_form->FileIndex, -1);
        m_form->Step(forward);
        ASSERT_TRUE(WaitShown(name));
    }
}

TEST_F(ViewerWindow, BadFileShowsTheErrorAndItsPathAndSteppingGoesOn) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    QFile empty(Path("b.jpg"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    m_form->OpenFile(Path("b.jpg"));
    ASSERT_TRUE(WaitShown("b.jpg"));
    EXPECT_TRUE(m_form->LoadFailed);
    EXPECT_FALSE(m_form->ImageLoaded);

    const QImage image = Grab();
    const auto darkInRows = [&](int top, int bottom) {
        int dark = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 64;
        return dark;
    };
    const int mid = image.height() / 2;
    EXPECT_GT(darkInRows(mid - 8, mid + 4), 20);  // "Can't open image"
    EXPECT_GT(darkInRows(mid + 8, mid + 24), 20); // the path one line lower
    EXPECT_EQ(darkInRows(0, mid - 30), 0);

    m_form->Step(true);
    ASSERT_TRUE(WaitShown("a.png"));
    EXPECT_EQ(Centre(), 0xFFFF0000u);
}

TEST_F(ViewerWindow, DeletingTheLastEntryShowsTheFirstAndTheOnlyOneEmptiesTheView) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    m_form->OpenFile(Path("b.png"));
    ASSERT_TRUE(WaitShown("b.png"));
    m_form->DeleteShownFile();
    EXPECT_FALSE(QFile::exists(Path("b.png")));
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_questions[0].endsWith(Path("b.png")));
    ASSERT_TRUE(WaitShown("a.png"));
    EXPECT_EQ(m_form->FileList, QStringList{Path("a.png")});

    m_form->DeleteShownFile();
    EXPECT_TRUE(m_form->FileList.isEmpty());
    EXPECT_FALSE(m_form->ImageLoaded);
    EXPECT_TRUE(m_form->ImgView32->Bitmap.Empty());
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(image.width() / 2, image.height() / 4), kGrey);
}

TEST_F(ViewerWindow, FailedDeletionWarnsAndKeepsTheEntry) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    ASSERT_TRUE(QFile::remove(Path("a.png"))); // gone behind the viewer's back
    m_form->DeleteShownFile();
    ASSERT_EQ(m_warnings.size(), 1);
    EXPECT_TRUE(m_warnings[0].startsWith("Can't delete file"));
    EXPECT_EQ(m_form->FileList.size(), 2);
    EXPECT_EQ(m_form->windowTitle(), "a.png - Pictrel");
}

TEST_F(ViewerWindow, DroppedFilesAndFoldersBecomeTheList) {
    QDir(m_dir.path()).mkdir("sub");
    QDir(m_dir.path()).mkdir("nothing");
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    WritePicture(Path("c.png"), 0xFF0000FF);
    WritePicture(Path("sub/s.png"), 0xFF00FFFF);

    m_form->DropFiles({Path("c.png"), Path("a.png")});
    ASSERT_TRUE(WaitShown("c.png"));
    EXPECT_EQ(m_form->FileList, QStringList({Path("c.png"), Path("a.png")}));

    m_form->DropFiles({Path("b.png")});
    ASSERT_TRUE(WaitShown("b.png"));
    EXPECT_EQ(m_form->FileList.size(), 3);

    m_form->DropFiles({Path("sub")});
    ASSERT_TRUE(WaitShown("s.png"));
    EXPECT_EQ(m_form->FileList, QStringList{Path("sub/s.png")});

    m_form->DropFiles({Path("nothing")});
    ASSERT_TRUE(PumpUntil([&] { return !m_form->Listing(); }));
    EXPECT_TRUE(m_form->FileList.isEmpty());
    EXPECT_FALSE(m_form->ImageLoaded);
    EXPECT_EQ(Centre() == 0xFF00FFFFu, false);
}

TEST_F(ViewerWindow, CheckerboardOnlyBehindATranslucentPicture) {
    m_form->DialogValues.UseBackgroundColor = false;
    m_form->DialogValues.ShowFrame = false;
    WritePicture(Path("clear.png"), 0x00000000, 100, 80);
    m_form->OpenFile(Path("clear.png"));
    ASSERT_TRUE(WaitShown("clear.png"));
    ASSERT_TRUE(m_form->ShownHasAlpha);
    const QImage image = Grab();
    const int cx = image.width() / 2, cy = image.height() / 2;
    QSet<QRgb> inside;
    for (int d = 0; d < 40; d += 3) inside.insert(image.pixel(cx - 40 + d, cy));
    EXPECT_EQ(inside, (QSet<QRgb>{0xFFFFFFFF, 0xFFBFBFBF}));
    EXPECT_EQ(image.pixel(cx - 60, cy), kGrey);
    EXPECT_EQ(image.pixel(cx, cy + 50), kGrey);
}

TEST_F(ViewerWindow, RotationIsDrawnAndRememberedPerFileAcrossARestart) {
    // Red left half, blue right half: a quarter turn to the left puts blue on top.
    WritePicture(Path("a.png"), 0xFFFF0000, 64, 48, 0xFF0000FF);
    WritePicture(Path("b.png"), 0xFF00FF00);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    m_form->Actions.RotateLeftAction->trigger();
    EXPECT_EQ(m_form->Zoom.RotationAngle, 90);
    const auto pixelAt = [&](int dy) {
        const QImage image = Grab();
        return image.pixel(image.width() / 2, image.height() / 2 + dy);
    };
    EXPECT_EQ(pixelAt(-10), 0xFF0000FFu);
    EXPECT_EQ(pixelAt(10), 0xFFFF0000u);

    Restart();
    m_form->OpenFile(Path("b.png"));
    ASSERT_TRUE(WaitShown("b.png"));
    EXPECT_EQ(m_form->Zoom.RotationAngle, 0);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    EXPECT_EQ(m_form->Zoom.RotationAngle, 90);
    EXPECT_EQ(pixelAt(-10), 0xFF0000FFu);
    QFile stored(DataFolder() + "RotateAngles");
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll().contains((Path("a.png") + "=90").toUtf8()));
}

TEST_F(ViewerWindow, PagesOfAThreePageTiff) {
    const QByteArray name = QFile::encodeName(Path("pages.tif"));
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_TIFF, name.constData(), TRUE, FALSE);
    ASSERT_NE(multi, nullptr);
    for (int i = 0; i < 3; ++i) {
        FIBITMAP* page = FreeImage_Allocate(40 + i, 30, 24);
        FreeImage_AppendPage(multi, page);
        FreeImage_Unload(page);
    }
    FreeImage_CloseMultiBitmap(multi, 0);

    m_form->OpenFile(Path("pages.tif"));
    ASSERT_TRUE(WaitShown("pages.tif"));
    ASSERT_TRUE(m_form->PagesToolbarVisible);
    struct {
        const char* label;
        bool previous, next;
        int width;
    } const expected[] = {{"1", false, true, 40}, {"2", true, true, 41}, {"3", true, false, 42}};
    for (const auto& e : expected) {
        // Each page decodes on the loader's worker.
        ASSERT_TRUE(PumpUntil([&] { return !m_form->ShowOnLoad; })) << e.label;
        EXPECT_EQ(m_form->Toolbars->PageLabel, e.label);
        EXPECT_EQ(m_form->Actions.PrevPageAction->isEnabled(), e.previous) << e.label;
        EXPECT_EQ(m_form->Actions.NextPageAction->isEnabled(), e.next) << e.label;
        EXPECT_EQ(m_form->ImgView32->Bitmap.Width(), e.width) << e.label;
        QTest::keyClick(m_form.get(), Qt::Key_PageDown);
    }
    EXPECT_EQ(m_form->Toolbars->PageLabel, "3");
}

TEST_F(ViewerWindow, ArrowKeysStepAndDeleteAsks) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    QTest::keyClick(m_form.get(), Qt::Key_Right);
    ASSERT_TRUE(WaitShown("b.png"));
    QTest::keyClick(m_form.get(), Qt::Key_Left);
    ASSERT_TRUE(WaitShown("a.png"));
    m_form->Commands.Confirm = [this](const QString& q) {
        m_questions.append(q);
        return false;
    };
    QTest::keyClick(m_form.get(), Qt::Key_Delete);
    EXPECT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(QFile::exists(Path("a.png")));
}

TEST_F(ViewerWindow, WheelZoomsThroughTheFitAndFitComesBack) {
    WritePicture(Path("big.png"), 0xFF336699, 1600, 1200);
    m_form->OpenFile(Path("big.png"));
    ASSERT_TRUE(WaitShown("big.png"));
    const double fit = m_form->FitScale();
    ASSERT_LT(fit, 1);
    EXPECT_FALSE(m_form->Actions.ZoomFitAction->isEnabled());
    const QPointF centre(m_form->width() / 2.0, m_form->height() / 2.0);
    QWheelEvent notch(centre, m_form->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_form.get(), &notch);
    EXPECT_FALSE(m_form->Zoom.FitMode);
    EXPECT_NEAR(m_form->Zoom.ZoomScale, fit + 0.08, 1e-6);
    EXPECT_FLOAT_EQ(m_form->ImgView32->Model().Scale(), float(fit + 0.08));
    EXPECT_TRUE(m_form->Actions.ZoomFitAction->isEnabled());
    m_form->Actions.ZoomFitAction->trigger();
    EXPECT_TRUE(m_form->Zoom.FitMode);
    EXPECT_EQ(Centre(), 0xFF336699u);
}

TEST_F(ViewerWindow, SizeAndPanelWishesComeBackAfterARestart) {
    m_form->resize(520, 410);
    m_form->Panels->ShowPanels = {true, false, true, false, true, false, true};
    m_form.reset();
    TMainForm again(m_context);
    EXPECT_EQ(again.size(), QSize(520, 410));
    EXPECT_EQ(again.Panels->ShowPanels,
              (std::array<bool, 7>{true, false, true, false, true, false, true}));
}

// A first look drawn from a reduced decode stands in while the picture itself loads,
// for that file only and never after the picture is there.
TEST_F(ViewerWindow, AQuickLookStandsInUntilThePictureArrives) {
    WritePicture(Path("a.png"), 0xFF00FF00);
    ASSERT_TRUE(PumpUntil([&] { return m_form->ImgView32->ViewWidth() > 0; }));
    const int w = m_form->ImgView32->ViewWidth(), h = m_form->ImgView32->ViewHeight();
    const auto look = [&](TColor32 colour) {
        TDrawnPicture d;
        d.Bitmap.SetSize(w - 20, h - 20);
        d.Bitmap.Clear(colour);
        d.Area = {10, 10, w - 10, h - 10};
        return d;
    };
    m_form->OpenFile(Path("a.png"));
    m_form->ShowQuickLook(Path("other.png"), look(0xFF0000FF));
    EXPECT_EQ(Centre(), kGrey) << "another file's look is not shown";
    m_form->ShowQuickLook(Path("a.png"), look(0xFFFF0000));
    EXPECT_EQ(Centre(), 0xFFFF0000u) << "shown while the picture loads";
    ASSERT_TRUE(WaitShown("a.png"));
    EXPECT_EQ(Centre(), 0xFF00FF00u);
    m_form->ShowQuickLook(Path("a.png"), look(0xFFFF0000));
    EXPECT_EQ(Centre(), 0xFF00FF00u) << "too late";
}

// A picture on its way row by row shows as far as it has arrived: its top half where
// the whole picture will lie, the rest in the view's background, and the "Opening..."
// box does not cover it.
TEST_F(ViewerWindow, APictureArrivingRowByRowShowsItsTopHalf) {
    // Large enough for the "Opening..." box: noise does not compress.
    QImage noise(900, 700, QImage::Format_RGB32);
    std::minstd_rand rng(5);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x) noise.setPixel(x, y, QRgb(rng()) | 0xFF000000u);
    ASSERT_TRUE(noise.save(Path("big.png"), "PNG"));
    ASSERT_GT(QFileInfo(Path("big.png")).size(), 1200000);
    ASSERT_TRUE(PumpUntil([&] { return m_form->ImgView32->ViewWidth() > 0; }));
    const int w = m_form->ImgView32->ViewWidth(), h = m_form->ImgView32->ViewHeight();

    // Blue rows have arrived down to the middle; the rest of the buffer is not the
    // picture's yet.
    TBitmap32 arriving(900, 700);
    arriving.Clear(0xFFFFFF00);
    for (int y = 0; y < 350; ++y)
        for (int x = 0; x < 900; ++x) arriving.SetPixel(x, y, 0xFF0000FF);
    TPartialLook look(900, 700, 2);
    look.TakeRows(arriving, 0, 350);
    TDrawnPicture drawn;
    MakeFitPreparation(w, h, 0, 0)(look.Picture(), drawn);
    const TRect area = drawn.Area;
    ASSERT_GT(area.Height(), 40);

    m_form->OpenFile(Path("big.png"));
    m_form->ShowQuickLook(Path("big.png"), std::move(drawn));
    EXPECT_FALSE(m_form->Toolbars->ProgressPanel->Visible());
    const QImage image = Grab();
    const int x = (area.Left + area.Right) / 2;
    EXPECT_EQ(image.pixel(x, area.Top + area.Height() / 4), 0xFF0000FFu);
    EXPECT_EQ(image.pixel(x, area.Top + area.Height() * 3 / 4), kGrey);
    EXPECT_EQ(image.pixel(area.Left + 2, area.Top + area.Height() / 2 - 3), 0xFF0000FFu);
    EXPECT_EQ(image.pixel(area.Left + 2, area.Top + area.Height() / 2 + 3), kGrey);
    ASSERT_TRUE(WaitShown("big.png"));
}

} // namespace

namespace {

using pictrel::test::PumpUntil;
using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

// Dark text pixels across the view's middle rows: the centred placeholder or error.
int MiddleText(const QImage& image) {
    int dark = 0;
    for (int y = image.height() / 2 - 6; y < image.height() / 2 + 6; ++y)
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 64;
    return dark;
}

// A step whose picture is still decoding leaves the one on screen in place: Delete
// stays off until the new one shows, and then names it.
TEST_F(ViewerWindow, DeleteWaitsForThePictureOnItsWayAndNamesTheOneOnScreen) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    WritePicture(Path("c.png"), 0xFF0000FF);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    m_form->Step(false); // c: nothing was prefetched that way, so it decodes now
    EXPECT_FALSE(m_form->Actions.DeleteAction->isEnabled());
    QTest::keyClick(m_form.get(), Qt::Key_Delete);
    m_form->DeleteShownFile();
    EXPECT_TRUE(m_questions.isEmpty());
    ASSERT_TRUE(WaitShown("c.png"));
    EXPECT_TRUE(m_form->Actions.DeleteAction->isEnabled());
    QTest::keyClick(m_form.get(), Qt::Key_Delete);
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_questions[0].endsWith(Path("c.png")));
    EXPECT_FALSE(QFile::exists(Path("c.png")));
    EXPECT_TRUE(QFile::exists(Path("a.png")) && QFile::exists(Path("b.png")));
}

// The question is modal: a file handed over while it is open makes a new list, and
// Yes still deletes only the file asked about, touching nothing of the new list.
TEST_F(ViewerWindow, DeleteRemovesTheFileAskedAboutWhateverHappenedMeanwhile) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("other"));
    WritePicture(Path("a.png"), 0xFFFF0000);
    WritePicture(Path("b.png"), 0xFF00FF00);
    WritePicture(Path("other/x.png"), 0xFF0000FF);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    m_form->Commands.Confirm = [this](const QString& q) {
        m_questions.append(q);
        m_form->OpenFile(Path("other/x.png"));
        return true;
    };
    m_form->DeleteShownFile();
    EXPECT_FALSE(QFile::exists(Path("a.png")));
    EXPECT_TRUE(QFile::exists(Path("b.png")));
    ASSERT_TRUE(WaitShown("x.png"));
    EXPECT_EQ(m_form->FileList, QStringList{Path("other/x.png")});
    EXPECT_EQ(Centre(), 0xFF0000FFu);
}

// Pages decode on the loader's worker; the histogram counts the new page's colours.
TEST_F(ViewerWindow, APageChangeCountsTheHistogramAnew) {
    const QByteArray name = QFile::encodeName(Path("two.tif"));
    FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_TIFF, name.constData(), TRUE, FALSE);
    ASSERT_NE(multi, nullptr);
    for (const RGBQUAD colour : {RGBQUAD{0, 0, 255, 0}, RGBQUAD{255, 0, 0, 0}}) {
        FIBITMAP* page = FreeImage_Allocate(40, 30, 24);
        FreeImage_FillBackground(page, &colour);
        FreeImage_AppendPage(multi, page);
        FreeImage_Unload(page);
    }
    FreeImage_CloseMultiBitmap(multi, 0);
    m_form->Panels->ShowPanels[1] = true; // the histogram
    m_form->OpenFile(Path("two.tif"));
    ASSERT_TRUE(WaitShown("two.tif"));
    const auto counted = [&] {
        return PumpUntil([&] {
            return m_form->Panels->HistogramPanel->Visible() &&
                   !m_form->Panels->HistogramPanel->Counting() &&
                   !m_form->Panels->HistogramPanel->Preparing();
        });
    };
    ASSERT_TRUE(counted());
    const TFixedPolygon redOfPage1 = m_form->Panels->HistogramPanel->RedCurve();
    const TFixedPolygon blueOfPage1 = m_form->Panels->HistogramPanel->BlueCurve();
    QTest::keyClick(m_form.get(), Qt::Key_PageDown);
    ASSERT_TRUE(PumpUntil([&] { return !m_form->ShowOnLoad; }));
    EXPECT_EQ(m_form->Toolbars->PageLabel, "2");
    // The page itself (the histogram panel may lie over the view's centre).
    EXPECT_EQ(m_form->ImgView32->Bitmap.Pixel(20, 15), 0xFF0000FFu);
    ASSERT_TRUE(counted());
    EXPECT_NE(m_form->Panels->HistogramPanel->RedCurve(), redOfPage1);
    EXPECT_NE(m_form->Panels->HistogramPanel->BlueCurve(), blueOfPage1);
}

TEST_F(ViewerWindow, AnEmptyFolderDroppedWhileAPictureDecodesShowsNoPreview) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("nothing"));
    WritePicture(Path("a.png"), 0xFFFF0000, 1200, 900);
    m_form->OpenFile(Path("a.png"));
    m_form->DropFiles({Path("nothing")});
    ASSERT_TRUE(PumpUntil([&] { return !m_form->Listing(); }));
    pictrel::test::PumpFor(100);
    EXPECT_FALSE(m_form->ImageLoaded);
    EXPECT_EQ(m_form->windowTitle(), "Pictrel");
    EXPECT_GT(MiddleText(Grab()), 20);
}

// A folder opened as such shows its first picture in the order a file manager shows.
TEST_F(ViewerWindow, AnOpenedFolderShowsItsFirstPicture) {
    WritePicture(Path("img_10.png"), 0xFF0000FF);
    WritePicture(Path("IMG_2.png"), 0xFF00FF00);
    m_form->OpenFile(m_dir.path());
    ASSERT_TRUE(WaitShown("IMG_2.png"));
    EXPECT_EQ(m_form->FileList, QStringList({Path("IMG_2.png"), Path("img_10.png")}));
}

} // namespace
