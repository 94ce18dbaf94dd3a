# Reference values for tests/golden/negbin_quine.kor: FITNEGBIN on the school absence data of
# MASS (quine). Run from the repository root: Rscript tests/reference/negbin_quine.R
#
# The data file holds the factors' level codes in R's level order (Eth A N, Sex F M, Age F0..F3,
# Lrn AL SL) and the days. KORW aliases the last level of each factor, so R's reference levels
# are moved to the end. ALPHA is R's theta and CONSTANT is R's intercept - log(theta); standard
# deviations come from the joint information of (formula parameters, alpha), as in negbin.R.
suppressMessages(library(MASS))
src <- readLines("tests/reference/negbin.R")
eval(parse(text = src[grep("^loglik <-", src):grep("^control <-", src)]))
q <- quine
d <- read.table("tests/golden/negbin_quine.files/quine.dat",
                col.names = c("Eth", "Sex", "Age", "Lrn", "Days"))
stopifnot(all(d$Days == q$Days), all(d$Age == as.integer(q$Age)))
for (v in c("Eth", "Sex", "Age", "Lrn")) q[[v]] <- relevel(q[[v]], ref = nlevels(q[[v]]))

cat("FITNEGBIN days=1+eth+sex+age+lrn\n")
m <- glm.nb(Days ~ Eth + Sex + Age + Lrn, q, control = control)
report(mapped(m), model.matrix(~ Eth + Sex + Age + Lrn, q), q$Days, 1)

cat("FITNEGBIN days=1+eth+sex+age, TESTMODELCHANGE (-2log(Q) and P)\n")
m0 <- glm.nb(Days ~ Eth + Sex + Age, q, control = control)
print(anova(m0, m)[2, c("LR stat.", "Pr(Chi)")], digits = 8)

cat("FITNEGBIN days=(1+eth)*(1+age)*(1+lrn): fitted values are the cell means\n")
# With epsilon = 1e-12 glm.nb stops at its alternation limit short of the maximum here; its
# default control reaches it.
m3 <- glm.nb(Days ~ Eth * Age * Lrn, q)
cat("-2log(Likelihood) =", format(-2 * as.numeric(logLik(m3)), nsmall = 4), " alpha =",
    format(m3$theta, digits = 8), "\n")
mu <- fitted(m3)
print(head(cbind(fitted = mu, residual = q$Days - mu,
                 normed = (q$Days - mu) / sqrt(mu * (1 + mu / m3$theta))), 10), digits = 6)
