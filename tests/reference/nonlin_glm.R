# Reference values for tests/golden/nonlin_glm.kor: FITNONLINEAR as a generalised linear model
# on two published data sets. Run: Rscript tests/reference/nonlin_glm.R
#
# The last weighted fit is the scoring step at the converged estimates, so the estimates and
# standard deviations are those of glm with the dispersion estimated by Pearson's X2 over the
# residual degrees of freedom; the residual sum of squares of that fit is X2.
options(digits = 10)

# McCullagh and Nelder's clotting times (lot 1): gamma, inverse link.
u <- c(5, 10, 15, 20, 30, 40, 60, 80, 100)
lot1 <- c(118, 58, 42, 35, 27, 25, 21, 19, 18)
full <- glm(lot1 ~ log(u), family = Gamma)
print(coef(summary(full)))
x2 <- sum(residuals(full, type = "pearson")^2)
cat("Pearson", x2, "P", pchisq(x2, df.residual(full), lower.tail = FALSE), "\n")
small <- glm(lot1 ~ 1, family = Gamma)
x20 <- sum(residuals(small, type = "pearson")^2)
f <- (x20 - x2) / (x2 / df.residual(full))
cat("Pearson (constant only)", x20, "variance ratio", f, "P", pf(f, 1, 7, lower.tail = FALSE),
    "\n")

# Budworms killed out of 20 by log2 dose and sex; the second sex is the reference level.
ldose <- rep(0:5, 2)
dead <- c(1, 4, 9, 13, 18, 20, 0, 2, 6, 10, 12, 16)
sex <- factor(rep(c("M", "F"), c(6, 6)), levels = c("F", "M"))
b <- glm(cbind(dead, 20 - dead) ~ sex + ldose, family = quasibinomial)
print(coef(summary(b)))
x2 <- sum(residuals(b, type = "pearson")^2)
cat("Pearson", x2, "P", pchisq(x2, df.residual(b), lower.tail = FALSE), "\n")
