#include "layers/VekAdditionalLayers.h"

#include "layers/LayerCanvas.h"
#include "layers/LayerPaint.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

// Rounds halves to even, as the band and box geometry is worked out.
int RoundInt(double v) {
    return ClampToInt(std::nearbyint(v));
}

TRect Inflated(const TRect& r, int d) {
    return {r.Left - d, r.Top - d, r.Right + d, r.Bottom + d};
}

bool Meets(const TRect& a, const TRect& b) {
    return !Intersect(a, b).IsEmpty();
}

std::uint8_t AlphaByte(long v) {
    return std::uint8_t(std::clamp(v, 0L, 255L));
}

TColor32 BlackAt(long alpha) {
    return TColor32(AlphaByte(alpha)) << 24;
}

// How far a hover picture of `width` pixels reaches past an icon of `icon` pixels.
int HoverInset(const TBitmap32& hover, int icon) {
    if (hover.Empty()) return 0;
    return std::max(0, int(std::ceil((hover.Width() - icon) / 2.0)));
}

void SetUpTimer(TThreadedTimer& timer, int interval, std::function<void()> tick) {
    timer.SetInterval(interval);
    timer.SetAllowZero(true);
    timer.OnTimer = [tick = std::move(tick)](TThreadedTimer&) { tick(); };
}

std::uint32_t SteadyMilliseconds() {
    using namespace std::chrono;
    return std::uint32_t(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

const QString& OpeningText() {
    static const QString text = QStringLiteral("Opening...");
    return text;
}

constexpr int kClockSize = 26;

// A separator's picture of width x height with the named line picture centred in it,
// made at `scale`.
void MakeSeparator(TBitmap32& image, int width, int height, const QString& name, double scale) {
    image.SetSize(DeviceSize(width, scale), DeviceSize(height, scale));
    image.DrawMode = TDrawMode::dmBlend;
    TBitmap32 line;
    if (!LoadPngResource(line, name, scale)) return;
    // Onto a transparent picture a plain copy is the exact result.
    line.DrawMode = TDrawMode::dmOpaque;
    image.Draw((image.Width() - line.Width()) / 2, 0, line);
}

// A label's picture: the caption centred in a picture as wide as the text and 4 pixels
// (at least minWidth), `height` high, all of it made at `scale`.
void MakeLabel(TBitmap32& image, const QString& caption, TColor32 colour, int points, int minWidth,
               int height, double scale) {
    const QFont font = LayerFont(points);
    const int width = std::max(TextSize(font, caption).width() + 4, minWidth);
    const QFont drawn = DeviceFont(font, scale);
    const int textWidth = TextSize(drawn, caption).width();
    image.SetSize(DeviceSize(width, scale), DeviceSize(height, scale)); // transparent
    RenderText(image, image.Width() / 2 - textWidth / 2, 0, caption, drawn, colour, 4);
}

} // namespace

// ---------------------------------------------------------------------------
// Items

void TTlItem::Assign(const TTlItem& source) {
    if (&source == this) return;
    Owner = source.Owner;
    m_visible = source.m_visible;
    m_enabled = source.m_enabled;
    Image32.Assign(source.Image32);
    Image16.Assign(source.Image16);
    m_scaled32.Assign(source.m_scaled32);
    m_scaled16.Assign(source.m_scaled16);
    m_scaledRatio32 = source.m_scaledRatio32;
    m_scaledRatio16 = source.m_scaledRatio16;
    if (Owner) {
        ScaleTo(Owner->DeviceRatio());
        Owner->Relayout();
    }
}

void TTlItem::ScaleTo(double) {}

const TBitmap32* TTlItem::ScaledImage(bool big, double ratio) const {
    const TBitmap32& image = big ? m_scaled32 : m_scaled16;
    const double made = big ? m_scaledRatio32 : m_scaledRatio16;
    return made == ratio && ratio != 1.0 && !image.Empty() ? &image : nullptr;
}

double TTlItem::OwnerRatio() const {
    return Owner ? Owner->DeviceRatio() : 1.0;
}

void TTlItem::SetVisible(bool value) {
    if (m_visible == value) return;
    m_visible = value;
    if (Owner) Owner->Relayout();
}

void TTlItem::SetEnabled(bool value) {
    if (m_enabled == value) return;
    m_enabled = value;
    RepaintItem();
}

void TTlItem::RepaintItem() {
    if (Owner) Owner->InvalidateItem(*this);
}

TTlButton::TTlButton(const QString& imageName) {
    Image32.SetSize(32, 32);
    Image32.DrawMode = TDrawMode::dmBlend;
    Image16.SetSize(16, 16);
    Image16.DrawMode = TDrawMode::dmBlend;
    SetImageName(imageName);
}

// The loaders' own destructors wait for their workers and drop their completions.
TTlButton::~TTlButton() = default;

void TTlButton::Assign(const TTlItem& source) {
    if (&source == this) return;
    // The name without a new load: the pictures come with the copy.
    if (const auto* button = dynamic_cast<const TTlButton*>(&source)) {
        m_imageName = button->m_imageName;
        m_scaledName = button->m_scaledName;
        m_wantedRatio = button->m_wantedRatio;
        // Loads the source still runs are not copied: the ones of this button (if
        // any) go, and ScaleTo starts what is missing.
        m_loadScaled32.reset();
        m_loadScaled16.reset();
    }
    TTlItem::Assign(source);
}

void TTlButton::SetImageName(const QString& name) {
    if (name == m_imageName) return;
    m_imageName = name;
    // A load still running for the old name is stopped as its loader goes.
    m_load32 = std::make_unique<TResourceLoader>(
        Image32, [this] { LoadDone(m_load32); }, 32, name);
    m_load16 = std::make_unique<TResourceLoader>(
        Image16, [this] { LoadDone(m_load16); }, 16, name);
    if (m_wantedRatio != 1.0) LoadScaled();
}

void TTlButton::ScaleTo(double ratio) {
    if (ratio == 1.0) {
        m_wantedRatio = 1.0;
        m_loadScaled32.reset();
        m_loadScaled16.reset();
        m_scaled32.Delete();
        m_scaled16.Delete();
        m_scaledRatio32 = m_scaledRatio16 = 0;
        return;
    }
    const bool loaded = m_scaledRatio32 == ratio && m_scaledRatio16 == ratio;
    const bool loading = m_loadScaled32 != nullptr || m_loadScaled16 != nullptr;
    if (ratio == m_wantedRatio && m_scaledName == m_imageName && (loaded || loading)) return;
    m_wantedRatio = ratio;
    LoadScaled();
}

void TTlButton::LoadScaled() {
    m_scaledName = m_imageName;
    // Until they arrive the toolbar stretches the logical pictures.
    m_scaledRatio32 = m_scaledRatio16 = 0;
    const double ratio = m_wantedRatio;
    m_loadScaled32 = std::make_unique<TResourceLoader>(
        m_scaled32,
        [this, ratio] {
            m_scaledRatio32 = ratio;
            LoadDone(m_loadScaled32);
        },
        32, m_imageName, ratio);
    m_loadScaled16 = std::make_unique<TResourceLoader>(
        m_scaled16,
        [this, ratio] {
            m_scaledRatio16 = ratio;
            LoadDone(m_loadScaled16);
        },
        16, m_imageName, ratio);
}

void TTlButton::LoadDone(std::unique_ptr<TResourceLoader>& load) {
    RepaintItem();
    // We are inside the loader's completion, which allows it to go now; nothing
    // touches it afterwards.
    load.reset();
}

TTlSeparator::TTlSeparator() {
    MakeSeparator(Image32, 20, 32, QStringLiteral("zSeparator32"), 1.0);
    MakeSeparator(Image16, 10, 16, QStringLiteral("zSeparator16"), 1.0);
}

void TTlSeparator::ScaleTo(double ratio) {
    if (ratio == 1.0 || (m_scaledRatio32 == ratio && m_scaledRatio16 == ratio)) return;
    MakeSeparator(m_scaled32, 20, 32, QStringLiteral("zSeparator32"), ratio);
    MakeSeparator(m_scaled16, 10, 16, QStringLiteral("zSeparator16"), ratio);
    m_scaledRatio32 = m_scaledRatio16 = ratio;
}

TTlLabel::TTlLabel() {
    Image32.SetSize(32, 32);
    Image32.DrawMode = TDrawMode::dmBlend;
    Image16.SetSize(16, 16);
    Image16.DrawMode = TDrawMode::dmBlend;
}

void TTlLabel::Assign(const TTlItem& source) {
    if (&source == this) return;
    if (const auto* label = dynamic_cast<const TTlLabel*>(&source)) {
        m_caption = label->m_caption;
        TextColor = label->TextColor;
    }
    TTlItem::Assign(source);
}

void TTlLabel::ScaleTo(double ratio) {
    if (ratio == 1.0) return;
    MakeLabel(m_scaled32, m_caption, TextColor, 20, 32, 32, ratio);
    MakeLabel(m_scaled16, m_caption, TextColor, 10, 16, 16, ratio);
    m_scaledRatio32 = m_scaledRatio16 = ratio;
}

void TTlLabel::SetCaption(const QString& text) {
    if (text == m_caption) return;
    m_caption = text;
    const int old32 = Image32.Width(), old16 = Image16.Width();
    MakeLabel(Image32, m_caption, TextColor, 20, 32, Image32.Height(), 1.0);
    MakeLabel(Image16, m_caption, TextColor, 10, 16, Image16.Height(), 1.0);
    ScaleTo(OwnerRatio());
    if (Owner == nullptr) return;
    if (Image32.Width() != old32 || Image16.Width() != old16)
        Owner->Relayout();
    else
        RepaintItem();
}

// ---------------------------------------------------------------------------
// Toolbar

TToolbarLayer::TToolbarLayer(TLayerCollection& collection) : TCustomLayer(collection) {
    LoadPngResource(HoverImage32, QStringLiteral("zMouseHover32"));
    HoverImage32.DrawMode = TDrawMode::dmBlend;
    HoverInset32 = HoverInset(HoverImage32, 32);
    LoadPngResource(HoverImage16, QStringLiteral("zMouseHover16"));
    HoverImage16.DrawMode = TDrawMode::dmBlend;
    HoverInset16 = HoverInset(HoverImage16, 16);

    SetUpTimer(FadeTimer, 10, [this] { FadeTimerTick(); });
    SetUpTimer(HideTimer, 300, [this] { HideTimerTick(); });
    SetUpTimer(HintTimer, 1000, [this] { HintTimerTick(); });
    for (TThreadedTimer* timer : {&FadeTimer, &HideTimer, &HintTimer})
        timer->SetThreadPriority(TThreadPriority::tpLowest);

    // A new font's defaults, in the desktop's face.
    HintFont = LayerFont(8);
    Now = SteadyMilliseconds;
    SetMouseEvents(true);
}

TToolbarLayer::~TToolbarLayer() {
    FadeTimer.SetEnabled(false);
    HideTimer.SetEnabled(false);
    HintTimer.SetEnabled(false);
    HotItem = nullptr;
    PressedItem = nullptr;
    // Buttons still loading repaint through their owner: let them forget it first.
    for (auto& item : m_items) item->Owner = nullptr;
    m_items.clear();
}

void TToolbarLayer::SetPlacement(TToolbarPlacement value) {
    if (value == m_placement) return;
    const TRect old = ToolbarRect();
    m_placement = value;
    Changed(old);
    Changed(ToolbarRect());
}

void TToolbarLayer::SetBigIcons(bool value) {
    if (value == m_bigIcons) return;
    m_bigIcons = value;
    Relayout();
}

TTlItem& TToolbarLayer::AddItem(std::unique_ptr<TTlItem> item) {
    TTlItem& added = *item;
    added.Owner = this;
    m_items.push_back(std::move(item));
    added.ScaleTo(DeviceRatio());
    Relayout();
    return added;
}

void TToolbarLayer::DeviceRatioChanged() {
    const double ratio = DeviceRatio();
    for (const auto& item : m_items) item->ScaleTo(ratio);
}

const TBitmap32& TToolbarLayer::HoverImage(bool big, double ratio) {
    if (ratio == 1.0) return big ? HoverImage32 : HoverImage16;
    if (m_scaledHoverRatio != ratio) {
        m_scaledHover32.Delete();
        m_scaledHover16.Delete();
        LoadPngResource(m_scaledHover32, QStringLiteral("zMouseHover32"), ratio);
        LoadPngResource(m_scaledHover16, QStringLiteral("zMouseHover16"), ratio);
        m_scaledHover32.DrawMode = TDrawMode::dmBlend;
        m_scaledHover16.DrawMode = TDrawMode::dmBlend;
        m_scaledHoverRatio = ratio;
    }
    return big ? m_scaledHover32 : m_scaledHover16;
}

TTlItem* TToolbarLayer::Items(int index) const {
    if (index < 0 || index >= int(m_items.size())) return nullptr;
    return m_items[std::size_t(index)].get();
}

void TToolbarLayer::Relayout() {
    const TRect old = ToolbarRect();
    int x = 0;
    TRect bounds;
    for (const auto& item : m_items) {
        if (!item->Visible()) continue;
        const TBitmap32& image = m_bigIcons ? item->Image32 : item->Image16;
        item->Bounds = {x, 0, x + image.Width(), image.Height()};
        x += image.Width() + Spacing;
        bounds = Union(bounds, item->Bounds);
    }
    ItemsBounds = bounds;
    Changed(Union(old, ToolbarRect()));
}

TRect TToolbarLayer::ToolbarRect() const {
    const TRect v = TCustomLayer::Area(); // the viewport
    const int w = ItemsBounds.Right + 16, h = ItemsBounds.Bottom + 16;
    const int dx = RoundInt(v.Left + (v.Right - v.Left) / 2.0 - w / 2.0);
    TRect r{0, 0, w, h};
    if (m_placement == tpBottom)
        r = r.Offset(dx, v.Bottom - h).Offset(0, -EdgeOffset);
    else
        r = r.Offset(dx, v.Top).Offset(0, EdgeOffset);
    return Inflated(r, 1);
}

TRect TToolbarLayer::ItemRect(const TTlItem& item) const {
    const TRect r = Inflated(ToolbarRect(), -1);
    return item.Bounds.Offset(r.Left + 8, r.Top + 8);
}

TRect TToolbarLayer::HintRect(const TTlItem& item) const {
    if (item.Hint.isEmpty()) return {};
    const QSize size = TextSize(HintFont, item.Hint);
    const TRect ir = ItemRect(item);
    TRect r;
    r.Top = m_placement == tpBottom ? ir.Top - size.height() - 2 : ir.Bottom + 2;
    r.Bottom = r.Top + size.height() + 4;
    r.Left = ir.Right;
    r.Right = r.Left + size.width() + 4;
    return Inflated(r, 1);
}

void TToolbarLayer::InvalidateItem(const TTlItem& item) {
    Changed(Inflated(ItemRect(item), HoverInset32));
}

TRect TToolbarLayer::Area() const {
    return ToolbarRect();
}

std::uint32_t TToolbarLayer::StartTick() const {
    const std::uint32_t now = Now ? Now() : SteadyMilliseconds();
    return now != 0 ? now : 1; // 0 means "no fade"
}

bool TToolbarLayer::HitTest(int x, int y) {
    if (!Visible() || !MouseEvents()) return false;
    if (ToolbarRect().Contains(x, y)) {
        HideTimer.SetEnabled(false);
        if (!Shown) {
            FadeTimer.SetEnabled(true);
            FadeStart = StartTick();
        }
        Shown = true;
        return true;
    }
    MouseLeave();
    return false;
}

void TToolbarLayer::MouseLeave() {
    // Leaving stops a fade-in where it is; the hide timer then fades out from there.
    FadeTimer.SetEnabled(false);
    HideTimer.SetEnabled(true);
    if (HintVisible) {
        HintVisible = false;
        if (HotItem) Changed(HintRect(*HotItem));
    }
    HintTimer.SetEnabled(false);
    if (const TTlItem* left = HotItem) {
        HotItem = nullptr;
        Changed(Inflated(ItemRect(*left), HoverInset32));
    }
}

void TToolbarLayer::HideTimerTick() {
    if (Shown) Changed(ToolbarRect());
    Shown = false;
    FadeTimer.SetEnabled(true);
    FadeStart = StartTick();
    HideTimer.SetEnabled(false);
}

void TToolbarLayer::FadeTimerTick() {
    if (FadeStart != 0) {
        // Ticks that came far too late (a busy GUI thread) end the fade at once.
        const std::uint32_t now = Now ? Now() : SteadyMilliseconds();
        if (std::uint32_t(now - FadeStart) > 100) {
            FadeLevel = Shown ? 100 : 0;
            FadeTimer.SetEnabled(false);
            Changed(ToolbarRect());
        }
        FadeStart = 0;
    }
    if ((FadeLevel >= 100 && Shown) || (FadeLevel <= 0 && !Shown)) {
        FadeLevel = FadeLevel < 100 ? 0 : 100;
        FadeTimer.SetEnabled(false);
    } else {
        FadeLevel += Shown ? 10 : -10;
    }
    Changed(ToolbarRect());
}

void TToolbarLayer::HintTimerTick() {
    if (HotItem) {
        HintVisible = true;
        Changed(HintRect(*HotItem));
    }
    HintTimer.SetEnabled(false);
}

void TToolbarLayer::MouseMove(TShiftState shift, int x, int y) {
    TCustomLayer::MouseMove(shift, x, y);
    if (HotItem && !ItemRect(*HotItem).Contains(x, y)) {
        HintVisible = false;
        Changed(HintRect(*HotItem));
        const TTlItem* left = HotItem;
        HotItem = nullptr;
        Changed(Inflated(ItemRect(*left), HoverInset32));
    }
    if (HotItem == nullptr) {
        HintTimer.SetEnabled(false);
        for (const auto& item : m_items) {
            if (!item->Visible() || !ItemRect(*item).Contains(x, y)) continue;
            HotItem = item.get();
            Changed(Inflated(ItemRect(*HotItem), HoverInset32));
            HintTimer.SetEnabled(true);
            break;
        }
    }
}

void TToolbarLayer::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomLayer::MouseDown(button, shift, x, y);
    PressedItem = HotItem;
}

void TToolbarLayer::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomLayer::MouseUp(button, shift, x, y);
    TTlItem* item = HotItem == PressedItem ? HotItem : nullptr;
    PressedItem = nullptr;
    if (item == nullptr || !item->Enabled() || !item->OnClick) return;
    // A copy: the command may change the item's handler while it runs.
    const auto click = item->OnClick;
    click(*item);
}

void TToolbarLayer::Paint(TBitmap32& buffer) {
    if (m_items.empty()) return;
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const TRect clip = buffer.ClipRect();
    const TRect band = ToolbarRect();
    if (!canvas.Meets(band)) return;
    const bool fading = FadeTimer.Enabled();
    const double level = FadeLevel / 100.0;

    TRect r = Inflated(band, -1);
    const std::uint8_t corners = m_placement == tpBottom
                                     ? std::uint8_t(rcTopLeft | rcTopRight)
                                     : std::uint8_t(rcBottomLeft | rcBottomRight);
    if (fading) {
        const int slide = RoundInt((1.0 - level) * r.Height());
        r = r.Offset(0, m_placement == tpBottom ? slide : -slide);
        canvas.RoundPanel(r, BlackAt(RoundInt(level * 220)), 18, corners,
                          BlackAt(long(RoundInt(level * 150)) + 40));
    } else if (Shown) {
        canvas.RoundPanel(r, 0xDC000000u, 18, corners, 0xBE000000u);
    }

    const bool imageShown = !ImageShown || ImageShown();
    std::uint8_t alpha = 255;
    if (imageShown) {
        if (fading)
            alpha = AlphaByte(RoundInt(level * 180) + 75L);
        else
            alpha = Shown ? 255 : 75;
    }
    const double ratio = canvas.Ratio();
    for (const auto& item : m_items) {
        if (!item->Visible()) continue;
        const TRect ir = ItemRect(*item);
        const TRect dr = canvas.Map(ir);
        if (!Meets(dr, clip)) continue;
        // At another ratio than 1 the item's picture made at that ratio, drawn at its
        // own size; until it is there the logical one stretched.
        const TBitmap32* sharp = canvas.Scaled() ? item->ScaledImage(m_bigIcons, ratio) : nullptr;
        TBitmap32 copy(sharp ? *sharp : m_bigIcons ? item->Image32 : item->Image16);
        if (!copy.Empty()) {
            copy.DrawMode = TDrawMode::dmBlend;
            copy.MasterAlpha = alpha;
            if (!item->Enabled()) GreyOut(copy);
            if (sharp)
                buffer.Draw(dr.Left, dr.Top, copy);
            else
                canvas.Stretch(ir, copy);
        }
        if (Shown && item.get() == HotItem && item->Enabled() &&
            dynamic_cast<const TTlSeparator*>(item.get()) == nullptr) {
            const TBitmap32& hover = HoverImage(m_bigIcons, ratio);
            int inset = m_bigIcons ? HoverInset32 : HoverInset16;
            if (canvas.Scaled())
                inset = std::max(
                    0, int(std::ceil((hover.Width() - DeviceSize(m_bigIcons ? 32 : 16, ratio)) /
                                     2.0)));
            if (!hover.Empty()) buffer.Draw(dr.Left - inset, dr.Top - inset, hover);
        }
    }

    if (HintVisible && HotItem && !HotItem->Hint.isEmpty()) {
        const TRect b = Inflated(HintRect(*HotItem), -1);
        const TColor32 back = SystemColor(TSystemColor::scInfoBackground);
        canvas.FillRect(b, WithAlpha(back, 200));
        canvas.FrameRect(b, WithAlpha(back, 255));
        const QSize size = TextSize(HintFont, HotItem->Hint);
        canvas.Text(b.Left + b.Width() / 2 - size.width() / 2,
                    b.Top + b.Height() / 2 - size.height() / 2, HotItem->Hint, HintFont,
                    SystemColor(TSystemColor::scInfoText), 2);
    }
}

// ---------------------------------------------------------------------------
// Progress box

void FadeEdges(TBitmap32& bitmap) {
    const int w = bitmap.Width(), h = bitmap.Height();
    if (w <= 0 || h <= 0) return;
    const int c = std::min(RoundInt(w / 25.0), RoundInt(h / 25.0));
    const auto scale = [&bitmap](int x, int y, int f) {
        const TColor32 p = bitmap.Pixel(x, y);
        bitmap.SetPixel(x, y, WithAlpha(p, RoundInt(AlphaOf(p) / 255.0 * f)));
    };
    for (int i = 0; i < c; ++i) {
        const int f = RoundInt(double(i) / c * 255);
        for (int x = 0; x < w; ++x) {
            scale(x, i, f);
            if (h - 1 - i != i) scale(x, h - 1 - i, f);
        }
        for (int y = 0; y < h; ++y) {
            scale(i, y, f);
            if (w - 1 - i != i) scale(w - 1 - i, y, f);
        }
    }
}

TProgressbarLayer::TProgressbarLayer(TLayerCollection& collection) : TCustomLayer(collection) {
    SetUpTimer(ClockTimer, 300, [this] {
        ClockIndex = (ClockIndex + 1) % int(ClockFrames.size());
        PanelChanged();
    });
    TextFont = LayerFont(11);
    Thumbnail.DrawMode = TDrawMode::dmBlend;
    Thumbnail.MasterAlpha = 235;
    Thumbnail.OnChange = [this](TBitmap32&) { ThumbnailChanged(); };
    for (int i = 0; i < int(ClockFrames.size()); ++i) {
        TBitmap32& frame = ClockFrames[std::size_t(i)];
        LoadPngResource(frame, QStringLiteral("zClock") + QString::number(i));
        frame.DrawMode = TDrawMode::dmBlend;
        frame.MasterAlpha = 80;
    }
    m_lastPanel = PanelRect();
    SetVisible(false);
}

void TProgressbarLayer::SetText(const QString& text) {
    m_text = text;
    if (Visible()) PanelChanged();
}

void TProgressbarLayer::SetPosition(std::int32_t value) {
    if (value == m_position) return;
    m_position = value;
    if (Visible()) PanelChanged();
}

void TProgressbarLayer::SetThumbnail(const TBitmap32& picture) {
    if (&picture == &Thumbnail) return;
    Thumbnail.Assign(picture); // notifies once: the edges fade
}

void TProgressbarLayer::ThumbnailChanged() {
    // An assigned picture brings its own drawing properties; the box draws it its way.
    Thumbnail.DrawMode = TDrawMode::dmBlend;
    Thumbnail.MasterAlpha = 235;
    FadeEdges(Thumbnail);
    m_scaledThumbnail.Delete();
    m_scaledThumbnailRatio = 0;
    if (Visible()) PanelChanged();
}

void TProgressbarLayer::Start() {
    SetVisible(true);
    m_lastPanel = PanelRect();
    BringToTop();
    ClockTimer.SetEnabled(true);
}

void TProgressbarLayer::Stop() {
    SetVisible(false);
    ClockTimer.SetEnabled(false);
}

void TProgressbarLayer::PanelChanged() {
    const TRect now = PanelRect();
    Changed(Union(m_lastPanel, now));
    m_lastPanel = now;
    BringToTop();
}

void TProgressbarLayer::BringToTop() {
    const int index = Index();
    if (index < 0) return; // no collection any more
    const int last = LayerCollection().Count() - 1;
    if (index != last) SetIndex(last);
}

TRect TProgressbarLayer::PanelRect() const {
    const QSize opening = TextSize(TextFont, OpeningText());
    const int tw = std::max(opening.width(), TextSize(TextFont, m_text).width());
    const int th = 2 * opening.height();
    const int thumbW = Thumbnail.Width(), thumbH = Thumbnail.Height();
    int width;
    if (m_text.isEmpty())
        width = thumbW + 16;
    else if (tw < thumbW)
        width = thumbW * 2 + 28;
    else
        width = thumbW + tw + 28;
    // The text starts 20 pixels after the thumbnail and the clock sits 28 pixels in
    // from the right: a wide text (or one beside no thumbnail) would run under the
    // clock, so the box keeps 8 pixels between them.
    if (!m_text.isEmpty()) width = std::max(width, thumbW + 20 + tw + 8 + kClockSize + 2);
    const int height = thumbH >= th ? thumbH + 16 : th;
    const TRect v = TCustomLayer::Area();
    const int left = RoundInt(v.Left + (v.Right - v.Left) / 2.0 - width / 2.0);
    const int top = RoundInt(v.Top + (v.Bottom - v.Top) / 2.0 - height / 2.0);
    return {left, top, left + width, top + height};
}

TRect TProgressbarLayer::Area() const {
    return Union(m_lastPanel, PanelRect());
}

const TBitmap32& TProgressbarLayer::ClockFrame(int index, double ratio) {
    const auto i = std::size_t(std::clamp(index, 0, 7));
    if (ratio == 1.0) return ClockFrames[i];
    TBitmap32& frame = m_scaledClocks[i];
    if (m_scaledClockRatios[i] != ratio) {
        frame.Delete();
        LoadPngResource(frame, QStringLiteral("zClock") + QString::number(i), ratio);
        frame.DrawMode = TDrawMode::dmBlend;
        frame.MasterAlpha = ClockFrames[i].MasterAlpha;
        m_scaledClockRatios[i] = ratio;
    }
    return frame;
}

const TBitmap32& TProgressbarLayer::ScaledThumbnail(double ratio) {
    if (m_scaledThumbnailRatio != ratio) {
        // The thumbnail is a picture of its own, not our art: stretched smoothly.
        TBitmap32 source(Thumbnail);
        source.DrawMode = TDrawMode::dmOpaque;
        source.Resampler = TResamplerKind::Linear;
        m_scaledThumbnail.SetSize(DeviceSize(Thumbnail.Width(), ratio),
                                  DeviceSize(Thumbnail.Height(), ratio));
        m_scaledThumbnail.Draw(m_scaledThumbnail.BoundsRect(), source.BoundsRect(), source);
        m_scaledThumbnailRatio = ratio;
    }
    m_scaledThumbnail.DrawMode = TDrawMode::dmBlend;
    m_scaledThumbnail.MasterAlpha = Thumbnail.MasterAlpha;
    return m_scaledThumbnail;
}

void TProgressbarLayer::Paint(TBitmap32& buffer) {
    if (!Visible()) return;
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const TRect p = PanelRect();
    if (!canvas.Meets(p)) return;
    canvas.RoundPanel(p, 0x96000000u, 10, rcAll, 0xB4000000u);
    const TBitmap32& clock = ClockFrame(ClockIndex, canvas.Ratio());
    if (!clock.Empty()) canvas.Picture(p.Right - kClockSize - 2, p.Top + 2, clock);
    const int middle = p.Height();
    if (!Thumbnail.Empty())
        canvas.Picture(p.Left + 8, RoundInt(middle / 2.0 - Thumbnail.Height() / 2.0) + p.Top,
                       canvas.Scaled() ? ScaledThumbnail(canvas.Ratio()) : Thumbnail);
    if (m_text.isEmpty()) return;
    const TColor32 grey = 0xB4BFBFBFu;
    const int x = p.Left + Thumbnail.Width() + 20;
    const int openingHeight = TextSize(TextFont, OpeningText()).height();
    canvas.Text(x, RoundInt(middle / 2.0 - openingHeight) + p.Top, OpeningText(), TextFont, grey,
                2);
    canvas.Text(x, RoundInt(middle / 2.0) + p.Top, m_text, TextFont, grey, 2);
}

// ---------------------------------------------------------------------------
// Tint

TColorLayer::TColorLayer(TLayerCollection& collection) : TCustomLayer(collection) {
    TextFont = LayerFont(10);
    SetVisible(false);
}

void TColorLayer::SetColor(TColor32 colour) {
    if (m_hasColor && colour == m_color) return;
    m_color = colour;
    m_hasColor = true;
    Changed();
}

void TColorLayer::ClearColor() {
    if (!m_hasColor) return;
    m_hasColor = false;
    Changed();
}

void TColorLayer::Paint(TBitmap32& buffer) {
    if (!Visible()) return;
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const TRect image = ImageRect ? ImageRect() : TRect();
    if (m_hasColor && !image.IsEmpty()) canvas.FillRect(image, WithAlpha(m_color, 150));
    if (Text.isEmpty()) return;
    const QSize size = TextSize(TextFont, Text);
    const TRect v = TCustomLayer::Area();
    const int left = v.Left + (v.Right - v.Left) / 2 - size.width() / 2;
    const int top = v.Top + (v.Bottom - v.Top) / 2 - size.height() / 2;
    const TRect box = Inflated({left, top, left + size.width() + 5, top + size.height()}, 3);
    canvas.RoundPanel(box, 0x967F7F7Fu, 10, rcAll, 0x647F7F7Fu);
    canvas.Text(box.Left + 3, box.Top + 3, Text, TextFont, clWhite32, 2);
}
