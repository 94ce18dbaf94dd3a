// Mixed-model analysis of variance of balanced, orthogonal designs by the method of strata.
//
// The model line is "y = fixed terms [random terms]". Every random term and the units form a
// stratum; each fixed term is tested in its stratum, and the variances of the random terms
// are estimated from the stratum mean squares. The fitted model stays in this module until the
// next FitANOVA, the next session, or the deletion of one of its vectors.
#pragma once

#include <string>

namespace korw::special {

// Fits the model and prints the analysis of variance table and the variance components.
void FitANOVA(const std::string& modelLine);

// Declares the factor newName whose levels are the classes of units linked by a shared level
// of termA or of termB ("1" or factors joined by "*").
void ConstructMinimum(const std::string& newName, const std::string& termA,
                      const std::string& termB);

// "ANOVA.Estimate": the means of a fixed term of the last fit (CONSTANT: the grand mean) and
// the variance of a difference between two of them, stratum by stratum.
void AnovaEstimate(const std::string& term);

// True while a fitted model is held.
bool AnovaHeld();
void ReleaseAnova();

// Lets the vector table discard the fitted model when one of its vectors is deleted, and a new
// library session discard it too. Keeps the hooks already installed; call once, after
// models::InstallModelFitHooks.
void InstallAnovaHooks();

}  // namespace korw::special
