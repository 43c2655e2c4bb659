#pragma once

#include <cstdint>

// Where the program keeps its settings: every key and value name of the store
// with its default. Key paths are below HKEY_CURRENT_USER unless noted.
namespace layout {

inline constexpr char kProgramKey[] = "software\\Brommel\\Pictrel";
inline constexpr char kSettingsKey[] = "software\\Brommel\\Pictrel\\Settings";

// Program key: the file a second start hands to the running viewer.
inline constexpr char kNewFileName[] = "New file name";

// Viewer window (Settings key).
inline constexpr char kMainFormWidth[] = "MainForm.width";
inline constexpr char kMainFormHeight[] = "MainForm.height";
inline constexpr char kMainFormLeft[] = "MainForm.left";
inline constexpr char kMainFormTop[] = "MainForm.top";
inline constexpr char kMainFormWindowState[] = "MainForm.window state";
inline constexpr char kSimpleWidth[] = "simple mode.width";
inline constexpr char kSimpleHeight[] = "simple mode.height";
inline constexpr char kSimpleLeft[] = "simple mode.left";
inline constexpr char kSimpleTop[] = "simple mode.top";
inline constexpr char kSimpleBlend[] = "simple mode.blend";
inline constexpr std::int32_t kDefaultMainFormWidth = 800;
inline constexpr std::int32_t kDefaultMainFormHeight = 600;
inline constexpr std::int32_t kDefaultMainFormLeft = 10;
inline constexpr std::int32_t kDefaultMainFormTop = 10;
inline constexpr std::int32_t kDefaultWindowState = 0; // 0 normal, 1 minimized, 2 maximized
inline constexpr std::int32_t kDefaultSimpleBlend = 200;

// The seven panels: subkey name under Settings; "<name>layer visible" in Settings.
enum class TPanel : std::uint8_t {
    pnComment,
    pnHistogram,
    pnExif,
    pnIptc,
    pnXmp,
    pnGeoTiff,
    pnInfo
};
inline constexpr int kPanelCount = 7;
// In the order the viewer loads and saves them.
inline constexpr const char* kPanelNames[kPanelCount] = {
    "m_pCommentLayer", "m_pHistrogramLayer", "m_pExifLayer",      "m_pIptcLayer",
    "m_pXMPLayer",     "m_pGeoTIFFLayer",    "m_pCommonInfoLayer"};
inline constexpr char kLayerVisibleSuffix[] = "layer visible";

// Values in a panel subkey.
inline constexpr char kPanelLeft[] = "left";
inline constexpr char kPanelRight[] = "right";
inline constexpr char kPanelBottom[] = "bottom";
inline constexpr char kPanelTop[] = "top";
inline constexpr char kPanelTextFont[] = "text font";
inline constexpr char kPanelShowRed[] = "show red";
inline constexpr char kPanelShowGreen[] = "show green";
inline constexpr char kPanelShowBlue[] = "show blue";
inline constexpr char kPanelShowGray[] = "show gray";
inline constexpr char kPanelShowComment[] = "show comment";

// Settings dialog (Settings key).
inline constexpr char kShortcutLeft[] = "Shortcut left";
inline constexpr char kShortcutRight[] = "Shortcut right";
inline constexpr char kShortcutLeft2[] = "Shortcut left2";
inline constexpr char kShortcutRight2[] = "Shortcut right2";
inline constexpr char kShortcutFitToPage[] = "Shortcut fit to page";
inline constexpr char kShortcutReal[] = "Shortcut real";
inline constexpr char kShortcutRotateLeft[] = "Shortcut rotate left";
inline constexpr char kShortcutRotateRight[] = "Shortcut rotate right";
inline constexpr char kShortcutZoomIn[] = "Shortcut zoom in";
inline constexpr char kShortcutZoomOut[] = "Shortcut zoom out";
inline constexpr char kShortcutPlayPause[] = "Shortcut play pause";
inline constexpr char kShortcutSlideshowExit[] = "Shortcut slideshow exit";
inline constexpr char kShortcutSimpleMode[] = "Shortcut simple mode";
inline constexpr std::uint16_t kDefaultShortcutLeft = 37;         // Left arrow
inline constexpr std::uint16_t kDefaultShortcutRight = 39;        // Right arrow
inline constexpr std::uint16_t kDefaultShortcutLeft2 = 32;        // Space
inline constexpr std::uint16_t kDefaultShortcutRight2 = 8;        // Backspace
inline constexpr std::uint16_t kDefaultShortcutFitToPage = 70;    // F
inline constexpr std::uint16_t kDefaultShortcutReal = 82;         // R
inline constexpr std::uint16_t kDefaultShortcutRotateLeft = 160;  // left Shift
inline constexpr std::uint16_t kDefaultShortcutRotateRight = 161; // right Shift
inline constexpr std::uint16_t kDefaultShortcutZoomIn = 107;      // keypad +
inline constexpr std::uint16_t kDefaultShortcutZoomOut = 109;     // keypad -
inline constexpr std::uint16_t kDefaultShortcutPlayPause = 43;
inline constexpr std::uint16_t kDefaultShortcutSlideshowExit = 27; // Escape
inline constexpr std::uint16_t kDefaultShortcutSimpleMode = 16467; // Ctrl+S

inline constexpr char kFilterName[] = "filter name";
inline constexpr int kDefaultFilterKind = 2; // linear
inline constexpr char kBackgroundColor[] = "Background color";
inline constexpr std::uint32_t kDefaultBackgroundColor = 0xFF000000; // opaque black
inline constexpr char kUseBackgroundColor[] = "Use background color";
inline constexpr bool kDefaultUseBackgroundColor = false;
inline constexpr char kShowFrame[] = "Show frame";
inline constexpr bool kDefaultShowFrame = true;
inline constexpr char kBigIcons[] = "big icons";
inline constexpr bool kDefaultBigIcons = true;
// Two options of our own: pictures turned by their EXIF orientation, and Delete
// moving files to the trash instead of removing them.
inline constexpr char kExifOrientation[] = "Exif orientation";
inline constexpr bool kDefaultExifOrientation = true;
inline constexpr char kColourManagement[] = "Colour management";
inline constexpr bool kDefaultColourManagement = true;
inline constexpr char kDeleteToTrash[] = "Delete to trash";
inline constexpr bool kDefaultDeleteToTrash = false;

// Slideshow (Settings key).
inline constexpr char kSlideshowDelay[] = "Slideshow delay";
inline constexpr std::int32_t kDefaultSlideshowDelay = 5000;
inline constexpr char kSlideshowEffect[] = "Slideshow effect";
inline constexpr char kSlideshowMusicShuffle[] = "Slideshow music shuffle";
inline constexpr char kSlideshowMusicRepeatAll[] = "Slideshow music repeat all";

// Per-file rotation angles: a text file of this name in the data folder.
inline constexpr char kRotateAnglesFileName[] = "RotateAngles";

// File associations.
inline constexpr char kFileExtsKey[] =
    "software\\microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
inline constexpr char kPreviousParamKey[] =
    "Previous param"; // below kProgramKey, HKEY_LOCAL_MACHINE

} // namespace layout
