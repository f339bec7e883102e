// Size expressions: arithmetic over decimal numbers and the image width and
// height ("w", "h" in either case), used where a size is given relative to
// the image (trimming, margins, lens correction).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Removes every space from Text (the caller keeps the result), then answers
// whether only digits and ( ) * + - . / H W h w remain. An empty text passes.
bool CheckSizeExpression(std::string &Text);
// Every "w"/"W" becomes the decimal text of W, then every "h"/"H" that of H.
// Nothing goes between a number and a variable: "2w" with W 1000 is "21000".
std::string SubstituteSizeVariables(std::string_view Text, int32_t W, int32_t H);
// Evaluates in double precision: signs on the first term, + - * / left to
// right, parentheses. A negative result is 0. Every error (syntax, division
// by zero, overflow, nesting beyond what the evaluator takes) raises
// ETessivoError "式の評価でエラーが発生しました".
double EvaluateSizeExpression(std::string_view Text);
