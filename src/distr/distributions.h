// Upper tail probabilities of the normal, chi-square, F and t distributions and two quantile
// functions, in extended precision. Integer degrees of freedom throughout: the chi-square, F
// and t tails reduce to the regularised incomplete gamma and beta functions with half-integer
// parameters. Pure functions: no state, no output, no errors.
#pragma once

namespace korw::distr {

long double LnGammaHalf(int n);                           // ln Gamma(n/2), n >= 1
long double GammaUpperTail(int n, long double t);         // P[G > t], G ~ Gamma(n/2, 1)
long double ChiSquareUpperTail(long double x, int n);     // P[chi2(n) > x]
long double NormalUpperTail(long double x);               // P[Z > x]
long double IncompleteBeta(long double x, int p, int q);  // I_x(p/2, q/2)
long double FUpperTail(long double f, int m, int n);      // P[F(m, n) > f]
long double TUpperTail(long double t, int n);             // P[T(n) > t], one-sided
long double NormalUpperQuantile(long double p);           // z with Q(z) = p
long double GammaUpperQuantile(long double p, int n);     // t with GammaUpperTail(n, t) = p
long double ChiSquareQuantile(long double p, int n);      // x with P[chi2(n) > x] = p

}  // namespace korw::distr
