#include "viewer/PrintLayout.h"
#include "viewer/ViewerFixture.h"

#include <QFile>
#include <QPainter>
#include <QPrinter>

#include <string>

namespace {

using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

struct TRectCase {
    const char* Name;
    QSizeF Picture;
    int Angle;
    QRectF Expected;
};

class PrintRectTest : public testing::TestWithParam<TRectCase> {};

TEST_P(PrintRectTest, FitsTheTurnedPictureCentred) {
    const TRectCase& c = GetParam();
    EXPECT_EQ(PrintRect(c.Picture, c.Angle, QRectF(10, 20, 400, 600)), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrintRectTest,
    testing::Values(TRectCase{"WideOnTallPage", {200, 100}, 0, {10, 220, 400, 200}},
                    TRectCase{"SmallIsEnlarged", {10, 15}, 0, {10, 20, 400, 600}},
                    TRectCase{"TurnedLeft", {200, 100}, 90, {60, 20, 300, 600}},
                    TRectCase{"TurnedRightNegative", {200, 100}, -90, {60, 20, 300, 600}},
                    TRectCase{"HalfTurn", {200, 100}, 180, {10, 220, 400, 200}},
                    TRectCase{"Empty", {0, 100}, 0, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Left half red, right half blue: after a left turn red is at the bottom.
TEST(PrintLayout, QuarterTurnsFollowTheScreen) {
    QImage picture(40, 20, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x) picture.setPixel(x, y, qRgb(0, 0, 255));
    struct {
        int Angle;
        QPoint Red, Blue;
    } const cases[] = {
        {0, {25, 50}, {75, 50}}, {90, {50, 75}, {50, 25}}, {-90, {50, 25}, {50, 75}}};
    for (const auto& c : cases) {
        QImage page(100, 100, QImage::Format_ARGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        ASSERT_TRUE(PaintPrintedPicture(painter, picture, c.Angle, QRectF(0, 0, 100, 100)));
        painter.end();
        EXPECT_EQ(page.pixel(c.Red), qRgb(255, 0, 0)) << c.Angle;
        EXPECT_EQ(page.pixel(c.Blue), qRgb(0, 0, 255)) << c.Angle;
    }
}

class ViewerPrint : public ViewerWindow {};

TEST_F(ViewerPrint, PrintsTheShownPictureToAPdf) {
    WritePicture(Path("a.png"), 0xFF336699, 300, 200);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    ASSERT_TRUE(m_form->Actions.PrintAction->isVisible());
    const QString pdf = Path("out.pdf");
    m_form->Commands.PrintDialog = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    m_form->Actions.PrintAction->trigger();
    EXPECT_TRUE(m_warnings.isEmpty());
    QFile out(pdf);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray data = out.readAll();
    EXPECT_TRUE(data.startsWith("%PDF"));
    EXPECT_TRUE(data.contains("/Image")) << "the picture is on the page";
}

TEST_F(ViewerPrint, AFileGoneSinceItWasShownIsNotPrinted) {
    WritePicture(Path("a.png"), 0xFF336699);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    ASSERT_TRUE(QFile::remove(Path("a.png")));
    m_form->Commands.PrintDialog = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(Path("out.pdf"));
        return true;
    };
    m_form->Actions.PrintAction->trigger();
    EXPECT_EQ(m_warnings, QStringList{"Can't print file"});
}

} // namespace
