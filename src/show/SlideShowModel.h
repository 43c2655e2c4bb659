#pragma once

#include <vector>

class TBitmap32;

// The sequence of a slideshow without its window: which picture loads, when the delay
// and the transition run, and what happens when a picture arrives, a timer ticks or the
// user steps. The window owns the pictures, the loader, the timers and the effect, and
// carries out what the model asks through its port; the model only keeps the flags.
//
// Every handler looks at the flags again instead of assuming an order: a tick of one
// timer may come right after another handler changed them.
class TSlideShowModel {
public:
    // What the model asks of its window.
    class TPort {
    public:
        virtual ~TPort() = default;
        // Starts loading picture `index` of the list (a running load is replaced).
        virtual void LoadImage(int index) = 0;
        virtual void SetDelayRunning(bool running) = 0;
        virtual void SetEffectRunning(bool running) = 0;
        // Draws transition step `step` from the current to the next picture and shows it.
        virtual void DrawStep(int step) = 0;
        // The current picture becomes a copy of the next one.
        virtual void CurrentFromNext() = 0;
        virtual void StartAnimation() = 0;
        virtual void StopAnimation() = 0;
        // The multi-page holder takes the loaded file's pages over.
        virtual void TakeOverPages() = 0;
    };

    explicit TSlideShowModel(TPort& port) : m_port(port) {}

    int ImageCount = 0;
    // The picture being loaded, or held as the next picture.
    int ImageIndex = 0;
    // The next transition step.
    int Step = 0;
    // The load last started has delivered its picture.
    bool NextLoaded = false;
    // The delay ran out and a transition waits for the next picture.
    bool DelayElapsed = false;
    // The running load is a preload for a transition; otherwise its picture shows at once.
    bool Preloading = false;
    // Play is chosen (rather than Pause).
    bool Playing = true;
    // A step asked for while a picture was still on its way to be shown at once: +1 or
    // -1, taken once that picture is on screen. One is kept; further presses in that
    // time are dropped, so holding a key down does not run on after it is let go.
    int PendingStep = 0;
    // The first picture fades in from nothing, already here (handed over by the viewer):
    // it counts as the picture on screen.
    bool FadingIn = false;

    // The start with a non-empty list of `imageCount` pictures: the picture at
    // ImageIndex loads, with `fadeIn` while a transition from nothing to what the next
    // picture holds runs.
    void Begin(int imageCount, bool fadeIn = true);
    // The start with the picture at ImageIndex already in place as the next picture: it
    // fades in at once, and the one after it loads when the fade ends, as after any
    // transition. A step during the fade shows it whole and goes on from it.
    void BeginWithPicture(int imageCount);
    // The loader started a load.
    void LoadStarted() { NextLoaded = false; }
    // The next picture is in place (fitted, or a message picture).
    void PictureArrived();
    void DelayTick();
    // One tick of the effect timer, for an effect of `stepCount` steps.
    void EffectTick(int stepCount);
    // The following or the previous picture at once, without a transition. A step never
    // passes a picture over: Next takes over the preload of the following picture (shown
    // when it arrives, or at once when it is there), and a step while a picture is still
    // loading to be shown waits for it.
    void ShowNext() { StepBy(1); }
    void ShowPrevious() { StepBy(-1); }
    // The picture on screen no longer fits it (the window moved to a screen of another
    // device pixel ratio): it loads again and shows at once, without a transition, and
    // the following one preloads after it. A transition or a wait for the delay is
    // dropped; a step asked for before or meanwhile waits for the picture, as usual.
    void ShowAgain();
    // Play (true) or Pause: only the delay follows; a running transition ends anyway.
    void SetPlaying(bool playing);
    // Both timers stop.
    void Stop();
    // The list position of the picture on screen: the one before ImageIndex while the
    // following picture is preloaded (or held), ImageIndex while a picture loads to be
    // shown at once. -1 for an empty list.
    [[nodiscard]] int ShownIndex() const;

private:
    void AdvanceIndex();
    void StepBy(int delta);
    // Starts loading the picture `delta` away from ImageIndex, to be shown at once.
    void LoadForShow(int delta);
    [[nodiscard]] bool IndexInside() const { return ImageIndex >= 0 && ImageIndex < ImageCount; }

    TPort& m_port;
};

// The play order of `count` music tracks: 0, 1, 2, ... or, shuffled, each position drawn
// with equal chance from the tracks not yet placed (the program's random generator).
[[nodiscard]] std::vector<int> BuildMusicOrder(int count, bool shuffle);

// Which music track plays: the order, the position in it, and the end of the music.
// A track that cannot be opened, or ends without having played, is skipped; once every
// track in a row did so, the music ends instead of trying them again and again.
class TMusicSequence {
public:
    // From the first position of a new order; false (nothing to play) for no tracks.
    bool Start(int count, bool shuffle);
    // The track at the current position, or -1 when the music has ended.
    [[nodiscard]] int Current() const;
    // After a track ended (`played`: it played for some time) or failed to open (false):
    // moves to the next position, starting a new order after the last one when
    // `repeatAll`. False when the music ends here.
    bool Advance(bool repeatAll, bool played = true);
    [[nodiscard]] const std::vector<int>& Order() const { return m_order; }
    [[nodiscard]] int Position() const { return m_position; }

private:
    std::vector<int> m_order;
    int m_position = -1;
    bool m_shuffle = false;
    int m_silentInARow = 0;
};

// Fits a decoded picture for the screen: turned by `angle` (a multiple of 90 degrees)
// in place, then copied into `target` when it fits the box, or shrunk into it keeping its
// aspect ratio with the resampler of `filterKind` (pictures are never enlarged).
void FitPicture(TBitmap32& source, TBitmap32& target, int boxHeight, int boxWidth, int angle,
                int filterKind);

// A picture just large enough for `text`, white on opaque black ("No images", "Can't
// open image"), set in a font `ratio` times the size, for a screen of that device
// pixel ratio.
void MakeMessagePicture(TBitmap32& target, const char* text, double ratio = 1);
