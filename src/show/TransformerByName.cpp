#include "show/TransformerByName.h"

#include "show/VekBlendTransform.h"
#include "show/VekRainTransform.h"
#include "show/VekRandomTransform.h"
#include "show/VekSlideTransform.h"
#include "show/VekStripeShowTransform.h"
#include "show/VekTransformers.h"
#include "show/VekWindTransform.h"

namespace {

template <class T>
std::unique_ptr<TCustomVekTransformer> Make() {
    return std::make_unique<T>();
}

struct TNamedEffect {
    const char16_t* Key; // lower case
    std::unique_ptr<TCustomVekTransformer> (*Create)();
};

const TNamedEffect kEffects[] = {
    {u"no effect", Make<TVekNoTransform>},
    {u"blend", Make<TVekBlendTransform>},
    {u"random pixel", Make<TVekRandomPixelTransform>},
    {u"slide", Make<TVekSlideTransform>},
    {u"diagonal roll", Make<TVekStripeShowTransform>},
    {u"rain", Make<TVekRainTransform>},
    {u"random", Make<TVekRandomTransform>},
    {u"wind", Make<TVekWindTransform>},
};

} // namespace

std::unique_ptr<TCustomVekTransformer> TransformerByName(const QString& name) {
    QString key = name;
    for (QChar& c : key)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + (u'a' - u'A'));
    for (const TNamedEffect& effect : kEffects)
        if (key == QStringView(effect.Key)) return effect.Create();
    return nullptr;
}
