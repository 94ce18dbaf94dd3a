# Reference values for tests/special/nonlin_test.cpp and tests/golden/nonlin.kor: the
# non-linear regression against nls and glm. Run: Rscript tests/reference/nonlin.R
#
# The last weighted fit of FITNONLINEAR is the Gauss-Newton (Fisher scoring) step at the
# converged estimates, so its estimates and standard deviations are those of nls for a
# normal model, and those of glm with the quasi-Poisson family (dispersion = Pearson X2 over
# the residual degrees of freedom) for a Poisson model; its residual sum of squares is
# Pearson's X2, the statistic of the test for no over-dispersion.
options(digits = 10)
# Single precision, as the variates hold the data.
f32 <- function(x) readBin(writeBin(x, raw(), size = 4), "double", size = 4, n = length(x))

# Michaelis-Menten on the treated Puromycin data: rate = 1 / (a + b x), x = 1/conc
# (Vm = 1/a, K = b/a). FITNONLINEAR rate=1+x 1/. -1/.^2 1 start
d <- Puromycin[Puromycin$state == "treated", ]
d$x <- f32(1 / f32(d$conc))
full <- nls(rate ~ 1 / (a + b * x), d, start = list(a = 0.005, b = 0.0003))
print(coef(summary(full)))
cat("residual SS", deviance(full), "variance", deviance(full) / df.residual(full), "\n")
# FITNONLINEAR rate=1 ..., then TESTMODELCHANGE: the variance ratio is anova's F.
small <- nls(rate ~ 1 / a, d, start = list(a = 0.005))
print(coef(summary(small)))
print(anova(small, full))

# Dobson's counts by outcome and treatment; the last level of each factor is the reference,
# as in the weighted fit where it is aliased. FITNONLINEAR counts=... EXP(.) EXP(.) .
counts <- c(18, 17, 15, 20, 10, 20, 25, 13, 12)
outcome <- gl(3, 1, 9)
treatment <- gl(3, 3)
sas <- list(outcome = "contr.SAS", treatment = "contr.SAS")
for (form in list(counts ~ outcome + treatment, counts ~ outcome)) {
    pois <- glm(form, family = poisson(), contrasts = sas[all.vars(form)[-1]])
    print(coef(summary(pois)))
    quasi <- glm(form, family = quasipoisson(), contrasts = sas[all.vars(form)[-1]])
    print(coef(summary(quasi)))
    x2 <- sum(residuals(pois, type = "pearson")^2)
    cat("Pearson", x2, "df", df.residual(pois), "P",
        pchisq(x2, df.residual(pois), lower.tail = FALSE), "\n")
}

# Exposure times as the offset log(t), with prior weights w:
# FITNONLINEAR counts-lt=1+outcome/w EXP(.) EXP(.) .
t <- f32(c(2, 3, 1.5, 4, 2.5, 3, 2, 1, 3.5))
w <- f32(c(1, 2, 1, 1, 0.5, 1, 2, 1, 1))
lt <- f32(log(t))
off <- glm(counts ~ outcome + offset(lt), family = quasipoisson(), weights = w,
           contrasts = sas["outcome"])
print(coef(summary(off)))
x2 <- sum(w * (counts - fitted(off))^2 / fitted(off))
cat("Pearson", x2, "dispersion", x2 / df.residual(off), "P",
    pchisq(x2, df.residual(off), lower.tail = FALSE), "\n")

# Unit 3 missing and excluded (EXCLUDEMISSING counts).
k <- -3
o <- outcome[k]
g <- glm(counts[k] ~ o, family = quasipoisson(), contrasts = list(o = "contr.SAS"))
print(coef(summary(g)))
x2 <- sum(residuals(g, type = "pearson")^2)
cat("Pearson", x2, "P", pchisq(x2, df.residual(g), lower.tail = FALSE), "\n")
