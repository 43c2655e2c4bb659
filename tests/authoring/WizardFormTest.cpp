// The wizard window on the offscreen platform: its pages from the shared slideshow and
// back, through saved files.

#include "app/AppContext.h"
#include "authoring/FormVekWizard.h"
#include "authoring/WizardPreviewWidget.h"
#include "common/SharedSlideshow.h"
#include "common/TestSupport.h"
#include "show/TransformerByName.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>
#include <QTreeView>

#include <memory>
#include <ostream>
#include <string>

namespace {

class WizardWindow : public testing::Test, protected pictrel::test::SharedSlideshow {
protected:
    void SetUp() override {
        CreateCurrentSlideshow();
        m_form = std::make_unique<TWizardForm>(m_context, m_slideshow);
        m_form->Warn = [this](const QString& m) { m_warnings << m; };
        QDir().mkpath(Path("pics"));
        for (const char* name : {"pics/a.png", "pics/b.png", "c.png"}) {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(Qt::red);
            ASSERT_TRUE(image.save(Path(name)));
        }
        QFile music(Path("song.wav"));
        ASSERT_TRUE(music.open(QIODevice::WriteOnly));
    }
    void TearDown() override {
        m_form.reset();
        FreeCurrentSlideshow();
    }
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    bool WaitListed() {
        return QTest::qWaitFor([&] { return !m_form->Listing(); }, 20000);
    }
    // Three (empty) tracks, 1.wav to 3.wav, in the music list.
    void AddThreeSongs() {
        QStringList songs;
        for (const char* name : {"1.wav", "2.wav", "3.wav"}) {
            QFile f(Path(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            songs << Path(name);
        }
        m_form->AddMusic(songs);
        ASSERT_TRUE(WaitListed());
    }

    QTemporaryDir m_dir;
    TAppContext m_context;
    std::unique_ptr<TWizardForm> m_form;
    QStringList m_warnings;
};

TEST_F(WizardWindow, PagesGoToAFileAndComeBackFromIt) {
    TVekSettingsFile* slideshow = CurrentSlideshow();
    slideshow->ImageList = {Path("pics"), Path("pics/b.png"), Path("c.png")};
    slideshow->MusicList = {Path("song.wav")};
    slideshow->Delay = 2500;
    slideshow->Transformer = TransformerByName(QStringLiteral("Wind"));
    slideshow->Shuffle = true;
    m_form->FillPages();
    ASSERT_TRUE(WaitListed());
    EXPECT_EQ(m_form->TimerDelayLMDSpinEdit->value(), 2) << "2.5 s rounds to even";
    EXPECT_EQ(m_form->EffectComboBox->currentIndex(), -1) << "Wind is not offered";
    EXPECT_EQ(m_form->MusicFilesVirtualDrawTree->count(), 1);
    // The folder, the file given again under it, and the file of a folder not given.
    const QString explicitPaths =
        QStringList{Path("pics") + "/", Path("pics/b.png"), Path("c.png")}.join(u'|');
    EXPECT_EQ(m_form->ImageModel->Tree().ExplicitPaths().join(u'|'), explicitPaths);

    const QString saved = m_form->SaveSlideshow(Path("show.vekss"));
    EXPECT_EQ(saved, Path("show.vekss.VekSS")) << "the extension's case counts";
    EXPECT_EQ(slideshow->Delay, 2000);
    ASSERT_TRUE(slideshow->Transformer);
    EXPECT_EQ(slideshow->Transformer->Name, "Random");

    FreeCurrentSlideshow();
    CreateCurrentSlideshow();
    ASSERT_TRUE(m_form->LoadSlideshow(saved));
    ASSERT_TRUE(WaitListed());
    TVekSettingsFile collected;
    m_form->CollectPages(collected);
    EXPECT_EQ(collected.ImageList.join(u'|'), explicitPaths) << "the same after a round trip";
    EXPECT_EQ(collected.MusicList, QStringList{Path("song.wav")});
    EXPECT_TRUE(collected.Shuffle);
    EXPECT_TRUE(m_warnings.isEmpty());
}

// Folder entries of another computer (or of a drive not mounted) stay in the list,
// greyed, and go back into the file as they were; the show passes over them.
TEST_F(WizardWindow, FoldersNotFoundHereAreKeptAndSavedUnchanged) {
    const QString away = QStringLiteral("/nonexistent-pictrel-drive/Holiday");
    const QString awayWithSlash = QStringLiteral("/nonexistent-pictrel-drive/Trip/");
    TVekSettingsFile written;
    written.ImageList = {away, Path("c.png"), awayWithSlash};
    written.SaveToFile(Path("away.VekSS"));
    ASSERT_TRUE(m_form->LoadSlideshow(Path("away.VekSS")));
    ASSERT_TRUE(WaitListed());

    TImageTreeModel& model = *m_form->ImageModel;
    ASSERT_EQ(model.rowCount({}), 3);
    const QModelIndex missing = model.index(0, 0, {});
    EXPECT_EQ(missing.data().toString(), "Holiday");
    EXPECT_TRUE(missing.data(Qt::ForegroundRole).isValid()) << "greyed";
    EXPECT_TRUE(missing.data(Qt::ToolTipRole).toString().contains("Not found"));
    EXPECT_FALSE(model.index(2, 0, {}).data(Qt::ForegroundRole).isValid());

    const QString saved = m_form->SaveSlideshow(Path("again.VekSS"));
    TVekSettingsFile reread;
    ASSERT_TRUE(reread.LoadFromFile(saved));
    const QStringList expected = {away, awayWithSlash, Path("c.png")};
    EXPECT_EQ(reread.ImageList, expected);
    QStringList shown;
    reread.GetImageFiles(shown, true, QStringLiteral("png"));
    EXPECT_EQ(shown, QStringList{Path("c.png")}) << "the show has only what is here";
    EXPECT_TRUE(m_warnings.isEmpty());
}

TEST_F(WizardWindow, ADamagedFileIsReportedAndTheListsStay) {
    m_form->AddImages({Path("c.png")});
    ASSERT_TRUE(WaitListed());
    QFile damaged(Path("bad.VekSS"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("PK\x03\x04 not a whole archive");
    damaged.close();
    EXPECT_FALSE(m_form->LoadSlideshow(Path("bad.VekSS")));
    ASSERT_TRUE(WaitListed());
    EXPECT_EQ(m_warnings.size(), 1);
    EXPECT_EQ(m_form->ImageModel->Tree().ExplicitPaths(), QStringList{Path("c.png")});
}

TEST_F(WizardWindow, MusicMovesUpAndDownAsASelectedBlock) {
    ASSERT_NO_FATAL_FAILURE(AddThreeSongs());
    QListWidget* list = m_form->MusicFilesVirtualDrawTree;
    list->clearSelection();
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    m_form->MoveMusic(true);
    TVekSettingsFile collected;
    m_form->CollectPages(collected);
    EXPECT_EQ(collected.MusicList, (QStringList{Path("2.wav"), Path("3.wav"), Path("1.wav")}));
    m_form->InvertMusicSelection();
    m_form->RemoveMusic();
    m_form->CollectPages(collected);
    EXPECT_EQ(collected.MusicList, (QStringList{Path("2.wav"), Path("3.wav")}));
}

TEST_F(WizardWindow, ThePreviewShowsTheFocusedPictureTurnedOnlyThere) {
    QFile(Path("empty.png")).open(QIODevice::WriteOnly); // zero bytes
    m_form->AddImages({Path("pics/a.png"), Path("empty.png")});
    ASSERT_TRUE(WaitListed());
    QTreeView* tree = m_form->ImageFilesVirtualDrawTree;
    TWizardPreview* preview = m_form->PreviewImgView32;
    const auto focus = [&](TImageTreeModel::TRef ref) {
        tree->setCurrentIndex(m_form->ImageModel->IndexOf(ref));
        return QTest::qWaitFor([&] { return !preview->Loading(); }, 20000);
    };
    ASSERT_TRUE(focus({0, 0}));
    ASSERT_TRUE(preview->Available());
    const QImage shown = preview->grab().toImage();
    EXPECT_EQ(shown.pixel(shown.width() / 2 - 3, shown.height() / 2 - 3), qRgb(255, 0, 0));
    m_form->RotatePreview(90);
    EXPECT_EQ(m_form->ImageModel->Tree().Node({0, 0})->Angle, 90);
    EXPECT_EQ(preview->Angle(), 90);
    TVekSettingsFile collected;
    m_form->CollectPages(collected);
    EXPECT_EQ(collected.ImageList.join(u'|'), Path("pics/a.png") + "|" + Path("empty.png"))
        << "the turn is not saved";

    ASSERT_TRUE(focus({0, -1}));
    EXPECT_FALSE(preview->Available()) << "a folder has no preview";
    ASSERT_TRUE(focus({1, 0}));
    EXPECT_EQ(preview->ErrorText(), "Can't open image");
    ASSERT_TRUE(focus({0, 0}));
    EXPECT_EQ(preview->Angle(), 90) << "the node keeps its turn";
}

TEST_F(WizardWindow, APreviewedTrackRepeatsUntilStoppedAndNextPlaysTheNeighbour) {
    qputenv("PICTREL_AUDIO_OUTPUT", "null");
    ASSERT_TRUE(pictrel::test::WriteWav(Path("one.wav"), 0.3));
    ASSERT_TRUE(pictrel::test::WriteWav(Path("two.wav"), 0.3));
    QFile text(Path("three.mp3"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("no music here");
    text.close();
    m_form->AddMusic({Path("one.wav"), Path("two.wav"), Path("three.mp3")});
    ASSERT_TRUE(WaitListed());
    QListWidget* list = m_form->MusicFilesVirtualDrawTree;
    list->setCurrentRow(0);
    TVekAudioPlayer& player = m_form->VekAudioPlayer;
    // Tracks open without holding the window up.
    const auto opened = [&] { return QTest::qWaitFor([&] { return !player.Opening(); }, 20000); };
    ASSERT_TRUE(opened());
    ASSERT_TRUE(player.Opened());
    EXPECT_EQ(m_form->FileNameLabel->text(), "one.wav");
    EXPECT_FALSE(player.Playing()) << "focus alone does not play";
    m_form->PlayMusicAction->trigger();
    EXPECT_TRUE(m_form->PlayMusicAction->isChecked());
    // Past its end the track starts again: it is still playing after twice its length.
    int ends = 0;
    const auto endPlay = player.OnEndPlay;
    player.OnEndPlay = [&](TVekAudioPlayer& p) {
        ++ends;
        endPlay(p);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return ends >= 2; }, 20000));
    EXPECT_TRUE(player.Playing());
    m_form->StopMusicAction->trigger();
    EXPECT_FALSE(player.Playing());

    m_form->NextMusicAction->trigger();
    EXPECT_EQ(list->currentRow(), 1);
    ASSERT_TRUE(opened());
    EXPECT_TRUE(player.Playing()) << "Next plays the neighbour";
    m_form->NextMusicAction->trigger();
    ASSERT_TRUE(opened());
    EXPECT_FALSE(player.Opened());
    EXPECT_TRUE(m_form->FileNameLabel->text().contains("three.mp3"))
        << "the reason shows where the name would";
    EXPECT_FALSE(m_form->NextMusicAction->isEnabled()) << "the last track";
    m_form->GoToPage(2);
    EXPECT_FALSE(player.Playing());
}

// The music preview's track bar, a moved track and a track that cannot be opened.
class WizardMusic : public WizardWindow {
protected:
    void SetUp() override {
        WizardWindow::SetUp();
        qputenv("PICTREL_AUDIO_OUTPUT", "null");
        for (const char* name : {"1.wav", "2.wav", "3.wav"})
            ASSERT_TRUE(pictrel::test::WriteWav(Path(name), 5));
        QFile text(Path("bad.mp3"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("no music here");
        text.close();
        m_form->show();
        m_form->GoToPage(1);
        m_form->AddMusic({Path("1.wav"), Path("2.wav"), Path("3.wav"), Path("bad.mp3")});
        ASSERT_TRUE(WaitListed());
    }
    // Focuses a track; false when this machine cannot play music at all.
    bool Focus(int row) {
        m_form->MusicFilesVirtualDrawTree->setCurrentRow(row);
        TVekAudioPlayer& player = m_form->VekAudioPlayer;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !player.Opening(); }, 20000));
        return player.Opened();
    }
};

TEST_F(WizardMusic, TheTrackBarSeeksOnKeysAndOnTheGroove) {
    if (!Focus(0)) GTEST_SKIP() << "no music playback here";
    TVekAudioPlayer& player = m_form->VekAudioPlayer;
    QSlider* bar = m_form->MusicTrackBar;
    QTest::keyClick(bar, Qt::Key_PageUp);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.GetPosition() >= 400; }, 20000))
        << "a page key seeks a tenth on";
    const int before = player.GetPosition();
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 3, bar->height() / 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.GetPosition() > before + 200; }, 20000))
        << "a click on the groove seeks towards it";
}

TEST_F(WizardMusic, UpAndDownKeepThePlayingTrackPlaying) {
    if (!Focus(1)) GTEST_SKIP() << "no music playback here";
    m_form->PlayMusicAction->trigger();
    ASSERT_TRUE(m_form->VekAudioPlayer.Playing());
    QListWidget* list = m_form->MusicFilesVirtualDrawTree;
    list->clearSelection();
    list->item(1)->setSelected(true);
    for (const bool up : {true, false}) {
        m_form->MoveMusic(up);
        EXPECT_EQ(list->currentRow(), up ? 0 : 1);
        EXPECT_EQ(list->currentItem()->data(Qt::UserRole).toString(), Path("2.wav"));
        EXPECT_TRUE(m_form->VekAudioPlayer.Playing()) << (up ? "Up" : "Down");
        EXPECT_TRUE(m_form->PlayMusicAction->isChecked());
    }
}

TEST_F(WizardMusic, AFailedOpenLeavesNothingOfTheTrackBefore) {
    if (!Focus(0)) GTEST_SKIP() << "no music playback here";
    EXPECT_FALSE(m_form->LengthLabel->text().isEmpty());
    // As the player reports while it plays.
    m_form->MusicTrackBar->setValue(40);
    m_form->PositionLabel->setText("0:02");
    EXPECT_FALSE(Focus(3));
    EXPECT_TRUE(m_form->LengthLabel->text().isEmpty());
    EXPECT_TRUE(m_form->PositionLabel->text().isEmpty());
    EXPECT_EQ(m_form->MusicTrackBar->value(), 0);
    EXPECT_TRUE(m_form->FileNameLabel->text().contains("bad.mp3")) << "the reason shows";
}

TEST_F(WizardWindow, SortedMusicGoesByTheWholePath) {
    QStringList songs;
    for (const char* name : {"b/a.wav", "a/z.wav", "A/m.wav", "a/y.wav"}) {
        QDir().mkpath(QFileInfo(Path(name)).path());
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        songs << Path(name);
    }
    m_form->AddMusic(songs.mid(0, 3));
    ASSERT_TRUE(WaitListed());
    m_form->SortMusicCheckBox->setChecked(true);
    m_form->AddMusic({songs[3]});
    ASSERT_TRUE(WaitListed());
    TVekSettingsFile collected;
    m_form->CollectPages(collected);
    EXPECT_EQ(collected.MusicList,
              (QStringList{Path("A/m.wav"), Path("a/y.wav"), Path("a/z.wav"), Path("b/a.wav")}))
        << "ordinal: upper case first, then by folder, not by the name shown";
}

// How many pixels of the list's middle band are not plain white or the light row grey.
int MarksInTheMiddle(QAbstractItemView* list) {
    const QImage shown = list->viewport()->grab().toImage();
    int marks = 0;
    for (int y = shown.height() / 2 - 20; y < shown.height() / 2 + 20; ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb p = shown.pixel(x, y) & 0xFFFFFF;
            if (p != 0xFFFFFF && p != 0xF6F6F6) ++marks;
        }
    return marks;
}

TEST_F(WizardWindow, AnEmptyListSaysHowToFillItAndADoubleClickThereAdds) {
    m_form->resize(800, 500);
    QListWidget* list = m_form->MusicFilesVirtualDrawTree;
    m_form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->GoToPage(1);
    EXPECT_GT(MarksInTheMiddle(list), 20) << "the hint is drawn";
    int asked = 0;
    m_form->AskMusic = [&] {
        ++asked;
        return QStringList{Path("song.wav")};
    };
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->viewport()->rect().center());
    ASSERT_TRUE(WaitListed());
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(MarksInTheMiddle(list), 0) << "no hint once there is an entry";
    const QRect row = list->visualItemRect(list->item(0));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(asked, 1) << "a double click on an entry does not add";
}

TEST_F(WizardWindow, MusicUpAndDownFollowTheSelectedBlock) {
    ASSERT_NO_FATAL_FAILURE(AddThreeSongs());
    QListWidget* list = m_form->MusicFilesVirtualDrawTree;
    const struct {
        std::vector<int> Selected;
        bool Up, Down;
    } cases[] = {{{}, false, false},       {{0}, false, true},     {{2}, true, false},
                 {{1}, true, true},        {{0, 2}, false, false}, {{1, 2}, true, false},
                 {{0, 1, 2}, false, false}};
    for (const auto& c : cases) {
        list->clearSelection();
        for (int row : c.Selected) list->item(row)->setSelected(true);
        EXPECT_EQ(m_form->UpMusicAction->isEnabled(), c.Up) << c.Selected.size();
        EXPECT_EQ(m_form->DownMusicAction->isEnabled(), c.Down) << c.Selected.size();
    }
}

TEST_F(WizardWindow, PreviewCommandsWorkOnlyOnAPictureTurnedAsTheViewerShowsIt) {
    m_form->RotationOf = [this](const QString& file) { return file == Path("c.png") ? 90 : 0; };
    m_form->AddImages({Path("pics/a.png"), Path("c.png")});
    ASSERT_TRUE(WaitListed());
    QTreeView* tree = m_form->ImageFilesVirtualDrawTree;
    TWizardPreview* preview = m_form->PreviewImgView32;
    tree->setCurrentIndex(m_form->ImageModel->IndexOf({0, -1}));
    EXPECT_FALSE(m_form->ZoomFitAction->isEnabled()) << "a folder";
    EXPECT_FALSE(m_form->RotateLeftAction->isEnabled());
    EXPECT_TRUE(m_form->UpImageAction->isEnabled()) << "any focused node moves";
    tree->setCurrentIndex(m_form->ImageModel->IndexOf({1, 0}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->Loading(); }, 20000));
    for (QAction* a : {m_form->ZoomFitAction, m_form->ActualSizeAction, m_form->ZoomInAction,
                       m_form->ZoomOutAction, m_form->RotateLeftAction, m_form->RotateRightAction})
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    EXPECT_EQ(preview->Angle(), 90);
    EXPECT_EQ(m_form->ImageModel->Tree().Node({1, 0})->Angle, 90);
    m_form->ActualSizeAction->trigger();
    EXPECT_FALSE(preview->FitMode());
    EXPECT_EQ(preview->Scale(), 1);
    m_form->RotateRightAction->trigger();
    EXPECT_EQ(preview->Angle(), 0);
}

// A slideshow file given to the wizard fills its lists once, although they are filled
// when the file is read and again when the window first shows; saving it again gives
// the same entries.
TEST_F(WizardWindow, AFileGivenAtStartListsEachEntryOnce) {
    TVekSettingsFile file;
    file.ImageList = {Path("c.png")};
    file.MusicList = {Path("song.wav")};
    file.SaveToFile(Path("show.VekSS"));
    m_form->OpenInWizard(Path("show.VekSS"));
    m_form->show();
    ASSERT_TRUE(WaitListed());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents(); // whatever the first filling still delivers
    EXPECT_EQ(m_form->MusicFilesVirtualDrawTree->count(), 1);
    EXPECT_EQ(m_form->ImageModel->Tree().ExplicitPaths(), QStringList{Path("c.png")});

    const QString saved = m_form->SaveSlideshow(Path("again.VekSS"));
    TVekSettingsFile again;
    ASSERT_TRUE(again.LoadFromFile(saved));
    EXPECT_EQ(again.ImageList, QStringList{Path("c.png")});
    EXPECT_EQ(again.MusicList, QStringList{Path("song.wav")});
}

// A folder still being read when the lists are filled from another file belongs to the
// lists that were there: what it finds is dropped.
TEST_F(WizardWindow, AListingOfListsReplacedMeanwhileIsDropped) {
    m_form->AddImages({Path("pics")});
    ASSERT_TRUE(m_form->Listing()) << "its result waits for this thread";
    TVekSettingsFile other;
    other.ImageList = {Path("c.png")};
    other.SaveToFile(Path("other.VekSS"));
    ASSERT_TRUE(m_form->LoadSlideshow(Path("other.VekSS")));
    ASSERT_TRUE(WaitListed());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents(); // the folder's listing has ended too
    EXPECT_EQ(m_form->ImageModel->Tree().ExplicitPaths(), QStringList{Path("c.png")});
    EXPECT_EQ(m_form->ImageModel->rowCount(), 1) << "no folder node of pics";
}

// Finish and Save while a folder is read wait for it, so its entry is in what they
// collect.
struct TWaitingCommand {
    const char* name;
    bool save;
};

void PrintTo(const TWaitingCommand& c, std::ostream* os) {
    *os << c.name;
}

class WizardCommandWhileListing : public WizardWindow,
                                  public testing::WithParamInterface<TWaitingCommand> {};

TEST_P(WizardCommandWhileListing, WaitsForTheFoldersBeingRead) {
    m_form->AskSaveFile = [this](QFileDialog&) { return Path("saved.VekSS"); };
    m_form->AddImages({Path("pics"), Path("c.png")});
    ASSERT_TRUE(m_form->Listing()) << "its result waits for this thread";
    GetParam().save ? m_form->SaveSlideshowClick() : m_form->Finish();
    EXPECT_TRUE(m_form->ListingProgress->isVisibleTo(m_form.get())) << "the progress shows";
    ASSERT_TRUE(WaitListed());
    const QStringList expected = {Path("pics") + "/", Path("c.png")};
    EXPECT_EQ(CurrentSlideshow()->ImageList, expected);
    if (GetParam().save) {
        TVekSettingsFile saved;
        ASSERT_TRUE(saved.LoadFromFile(Path("saved.VekSS")));
        EXPECT_EQ(saved.ImageList, expected);
    }
    EXPECT_TRUE(m_warnings.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Wizard, WizardCommandWhileListing,
                         testing::Values(TWaitingCommand{"Finish", false},
                                         TWaitingCommand{"Save", true}),
                         [](const testing::TestParamInfo<TWaitingCommand>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WizardWindow, SaveDialogAddsTheSuffixSoItsOverwriteQuestionIsAboutTheRealFile) {
    bool asked = false;
    m_form->AskSaveFile = [&](QFileDialog& dialog) {
        asked = true;
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("VekSS"));
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        return Path("trip.VekSS"); // what the dialog makes of "trip"
    };
    m_form->AskReplace = [&](const QString&) {
        ADD_FAILURE() << "the dialog asked about this name already";
        return false;
    };
    m_form->SaveSlideshowClick();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(QFile::exists(Path("trip.VekSS")));
    EXPECT_FALSE(QFile::exists(Path("trip.VekSS.VekSS")));
}

// A name with another suffix gets ours after the dialog; an existing file of that name is
// replaced only when the user says so.
struct TReplaceCase {
    const char* name;
    const char* chosen;  // what the dialog returns
    const char* written; // the file the save goes to
    bool exists;         // whether `written` is there before
    bool replace;        // the answer to the question, if asked
    bool asked;
    bool saved;
};

void PrintTo(const TReplaceCase& c, std::ostream* os) {
    *os << c.name;
}

class WizardSaveReplace : public WizardWindow, public testing::WithParamInterface<TReplaceCase> {};

TEST_P(WizardSaveReplace, AsksAboutAnExistingFileTheDialogDidNotName) {
    const TReplaceCase& c = GetParam();
    const QByteArray old = "old";
    if (c.exists) {
        QFile f(Path(c.written));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    m_form->AskSaveFile = [&](QFileDialog&) { return Path(c.chosen); };
    bool asked = false;
    m_form->AskReplace = [&](const QString& name) {
        asked = true;
        EXPECT_EQ(name, Path(c.written));
        return c.replace;
    };
    m_form->SaveSlideshowClick();
    EXPECT_EQ(asked, c.asked);
    QFile written(Path(c.written));
    const bool saved = written.open(QIODevice::ReadOnly) && written.readAll() != old;
    EXPECT_EQ(saved, c.saved);
}

INSTANTIATE_TEST_SUITE_P(Wizard, WizardSaveReplace,
                         testing::Values(TReplaceCase{"OtherSuffixNewFile", "trip.2024",
                                                      "trip.2024.VekSS", false, false, false, true},
                                         TReplaceCase{"OtherSuffixKept", "trip.2024",
                                                      "trip.2024.VekSS", true, false, true, false},
                                         TReplaceCase{"OtherSuffixReplaced", "trip.2024",
                                                      "trip.2024.VekSS", true, true, true, true},
                                         TReplaceCase{"LowerCaseSuffixKept", "trip.vekss",
                                                      "trip.vekss.VekSS", true, false, true, false},
                                         TReplaceCase{"OurSuffixTheDialogAsked", "trip.VekSS",
                                                      "trip.VekSS", true, false, false, true}),
                         [](const testing::TestParamInfo<TReplaceCase>& info) {
                             return std::string(info.param.name);
                         });

// Leaving the wizard while a track is previewed stops it.
struct TClosing {
    const char* name;
    bool cancel;
};

void PrintTo(const TClosing& c, std::ostream* os) {
    *os << c.name;
}

class WizardClosing : public WizardWindow, public testing::WithParamInterface<TClosing> {};

TEST_P(WizardClosing, StopsTheTrackBeingPreviewed) {
    qputenv("PICTREL_AUDIO_OUTPUT", "null");
    ASSERT_TRUE(pictrel::test::WriteWav(Path("long.wav"), 5));
    m_form->show();
    m_form->AddMusic({Path("long.wav")});
    ASSERT_TRUE(WaitListed());
    m_form->MusicFilesVirtualDrawTree->setCurrentRow(0);
    TVekAudioPlayer& player = m_form->VekAudioPlayer;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.Opening(); }, 20000));
    if (!player.Opened())
        GTEST_SKIP() << "no music playback here: " << m_form->FileNameLabel->text().toStdString();
    m_form->PlayMusicAction->trigger();
    ASSERT_TRUE(player.Playing());
    if (GetParam().cancel)
        m_form->CancelButton->click();
    else
        m_form->close();
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_FALSE(player.Playing());
    EXPECT_FALSE(player.Opened()) << "nothing is left open";
}

INSTANTIATE_TEST_SUITE_P(Wizard, WizardClosing,
                         testing::Values(TClosing{"Cancel", true}, TClosing{"CloseWindow", false}),
                         [](const testing::TestParamInfo<TClosing>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
