#include "words/fit_words.hpp"

#include "format/number_format.hpp"

namespace diffusim {

std::string undeterminedText(const std::vector<std::string>& keys,
                             const std::vector<FitParameter>& parameters, const FitResult& fit,
                             std::size_t j) {
  const FitStanding& s = fit.standings[j];
  const std::string head = keys[j] + " is not determined by the data: ";
  switch (s.why) {
    case FitStanding::Why::Determined:
      return {};
    case FitStanding::Why::Unresolved:
      return head + "the residuals do not depend on it (its standard error is " +
             shortest(fit.standardErrors[j]) + ")";
    case FitStanding::Why::Correlated:
      return head + "its correlation with " + keys[s.partner] + " is " +
             shortest(fit.correlation[j * keys.size() + s.partner]) +
             "; the data cannot tell them apart";
    case FitStanding::Why::BeyondRange:
      break;
  }
  const double half = fit.tQuantile * fit.standardErrors[j];
  if (parameterRange(parameters[j].kind) == ParameterRange::Positive)
    return head + "its 95 % interval on the linear scale, " + shortest(fit.values[j]) + " +- " +
           shortest(half) + ", reaches 0";
  return head + "its 95 % interval [" + shortest(fit.low[j]) + ", " + shortest(fit.high[j]) +
         "] reaches outside 0 to 1";
}

}  // namespace diffusim
