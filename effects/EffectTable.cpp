// Every effect the program knows, by identifier. The default chain is made
// from the rows whose Create is filled in, in their default positions; an
// effect joins the program by naming its class in its row.
#include "effects/Effect.h"

#include "effects/AddBlankFilter.h"
#include "effects/AddTextEffect.h"
#include "effects/ColorAdjust.h"
#include "effects/ColorSpaceConvertEffect.h"
#include "effects/DeDistortionFilter.h"
#include "effects/CompositeEffect.h"
#include "effects/DecreaseColorEffect.h"
#include "effects/DenoiseEffect.h"
#include "effects/GrayscaleFilter.h"
#include "effects/Levels.h"
#include "effects/ResizeFilter.h"
#include "effects/RotationFilter.h"
#include "effects/ToneCurve.h"
#include "effects/TrimmingFilter.h"
#include "effects/UnsharpMaskFilter.h"

namespace {

constexpr TEffectInfo Rows[] = {
    // ID, class, section, display name, accelerator, on at creation, default position, factory
    {EFFECT_GRAYSCALE, "TGrayscaleFilter", "GrayscaleFilter", "グレースケール化", u'G', false, 0, NewEffect<TGrayscaleFilter>},
    {EFFECT_ROTATION, "TRotationFilter", "RotationFilter", "回転", u'O', false, 3, NewEffect<TRotationFilter>},
    {EFFECT_EXIF_ROTATION, "TExifRotationFilter", "ExifRotationFilter", "Exif自動回転", u'E', true, 1, NewEffect<TExifRotationFilter>},
    {EFFECT_RESIZE, "TResizeFilter", "ResizeFilter", "リサイズ", u'R', true, 4, NewEffect<TResizeFilter>},
    {EFFECT_TRIMMING, "TTrimmingFilter", "TrimmingFilter", "トリミング", u'T', false, 2, NewEffect<TTrimmingFilter>},
    {EFFECT_ADD_BLANK, "TAddBlankFilter", "AddBlankFilter", "余白の追加", u'B', false, 5, NewEffect<TAddBlankFilter>},
    {EFFECT_UNSHARP_MASK, "TUSMFilter", "UnSharpMask", "アンシャープマスク", u'U', false, 6, NewEffect<TUSMFilter>},
    {EFFECT_COLOR_ADJUST, "TColorAdjust", "ColorCorrection", "色調補正", u'H', false, 7, NewEffect<TColorAdjust>},
    {EFFECT_TONE_CURVE, "TToneCurveEffect", "ToneCurve", "トーンカーブ", u'S', false, 8, NewEffect<TToneCurveEffect>},
    {EFFECT_DECREASE_COLOR, "TDecreaseColorEffect", "DecreaseColor", "減色", u'D', false, -1, NewEffect<TDecreaseColorEffect>},
    {EFFECT_DENOISE, "TDenoiseEffect", "Denoise", "ノイズ除去", u'N', false, 9, NewEffect<TDenoiseEffect>},
    {EFFECT_ADD_TEXT, "TAddTextEffect", "AddText", "文字入れ", u'A', false, 10, NewEffect<TAddTextEffect>},
    {EFFECT_COLOR_SPACE_CONVERT, "TColorSpaceConvertEffect", "ColorSpaceConvert", "色空間変換", u'C', false, 11, NewEffect<TColorSpaceConvertEffect>},
    {EFFECT_LEVELS, "TLevelsAdjust", "Levels", "レベル補正", u'L', false, 12, NewEffect<TLevelsAdjust>},
    {EFFECT_COMPOSITE, "TCompositeEffect", "Composite", "画像合成", u'W', false, 13, NewEffect<TCompositeEffect>},
    {EFFECT_DEDISTORTION, "TDeDistortionFilter", "DeDistortionFilter", "歪み補正", u'D', false, 14, NewEffect<TDeDistortionFilter>},
};

}  // namespace

constinit const std::span<const TEffectInfo> EffectTable(Rows);
