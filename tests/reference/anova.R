# Reference values of the mixed-model analysis of variance: a balanced split-plot in blocks.
# Writes the data file of tests/golden/anova.files (anova_errors.files holds a copy) and prints the strata of aov() with an
# Error() term and the variance components computed from the stratum mean squares.
# Run from the repository root: Rscript tests/reference/anova.R
set.seed(2026)
blocks <- 4; plots <- 3; subplots <- 4
d <- expand.grid(S = 1:subplots, P = 1:plots, B = 1:blocks)
d$W <- c(3, 1, 2, 2, 3, 1, 1, 2, 3, 3, 2, 1)[(d$B - 1) * plots + d$P]  # randomised within block
blockEffect <- rnorm(blocks, 0, 2)
plotEffect <- rnorm(blocks * plots, 0, 1.5)
d$y <- round(20 + c(0, 1.5, 3)[d$W] + c(0, 0.8, 1.1, 2.0)[d$S] + blockEffect[d$B] +
             plotEffect[(d$B - 1) * plots + d$P] + rnorm(nrow(d), 0, 1), 2)
write.table(d[, c("y", "B", "P", "W", "S")], "tests/golden/anova.files/splitplot.dat",
            row.names = FALSE, col.names = FALSE)

f <- within(d, { B <- factor(B); P <- factor(P); W <- factor(W); S <- factor(S) })
fit <- aov(y ~ W * S + Error(B / P), data = f)
print(summary(fit), digits = 10)

ms <- function(stratum) {
    s <- summary(fit)[[stratum]][[1]]
    r <- s[nrow(s), ]
    c(ss = r[["Sum Sq"]], df = r[["Df"]], ms = r[["Mean Sq"]])
}
b <- ms("Error: B"); p <- ms("Error: B:P"); u <- ms("Error: Within")
N <- nrow(d)
component <- function(coef) {
    msv <- c(b[["ms"]], p[["ms"]], u[["ms"]]); dfv <- c(b[["df"]], p[["df"]], u[["df"]])
    c(estimate = sum(coef * msv), sd = sqrt(sum(2 * (coef * msv)^2 / dfv)))
}
cB <- c(blocks / N, -blocks / N, 0)
cP <- c(0, blocks * plots / N, -blocks * plots / N)
cU <- c(0, 0, 1)
cat(sprintf("%-6s %.10g %.10g\n", "B", component(cB)[1], component(cB)[2]))
cat(sprintf("%-6s %.10g %.10g\n", "B*P", component(cP)[1], component(cP)[2]))
cat(sprintf("%-6s %.10g %.10g\n", "UNITS", component(cU)[1], component(cU)[2]))
cat(sprintf("%-6s %.10g %.10g\n", "Total", component(cB + cP + cU)[1],
            component(cB + cP + cU)[2]))
# Residual lines' F ratios of one stratum against the next finer one.
cat(sprintf("B vs B*P: F %.10g P %.10g\n", b[["ms"]] / p[["ms"]],
            pf(b[["ms"]] / p[["ms"]], b[["df"]], p[["df"]], lower.tail = FALSE)))
cat(sprintf("B*P vs UNITS: F %.10g P %.10g\n", p[["ms"]] / u[["ms"]],
            pf(p[["ms"]] / u[["ms"]], p[["df"]], u[["df"]], lower.tail = FALSE)))
# Grand mean, its SS and the table means with the standard errors of differences.
cat(sprintf("grand mean %.10g, N*mean^2 %.10g\n", mean(d$y), N * mean(d$y)^2))
print(tapply(d$y, d$W, mean), digits = 10)
print(tapply(d$y, list(d$W, d$S), mean), digits = 10)
sU <- component(cU)[[1]]; sP <- component(cP)[[1]]; sB <- component(cB)[[1]]
cat(sprintf("SED^2 W: %.10g\n", 2 * p[["ms"]] / (blocks * subplots)))
cat(sprintf("SED^2 S: %.10g\n", 2 * u[["ms"]] / (blocks * plots)))
cat(sprintf("SED^2 W*S same W: %.10g, different W: %.10g\n", 2 * sU / blocks,
            2 * sU / blocks + 2 * sP * subplots / (blocks * subplots)))
cat(sprintf("Var grand mean: %.10g\n", (sU + subplots * sP + plots * subplots * sB) / N))
# Without random terms: the ordinary analysis of variance of the same data.
print(summary(aov(y ~ B + W * S, data = f)), digits = 10)
# An unequally replicated one-way layout (tests/golden/anova_errors.files/small.dat): the
# table and the V-values MS/n of the two means, and the variance of the grand mean MS/N.
y7 <- c(1.5, 2.5, 1.8, 3.2, 2.9, 3.6, 3.1); g7 <- factor(c(1, 1, 1, 2, 2, 2, 2))
s7 <- summary(aov(y7 ~ g7)); print(s7, digits = 10)
ms7 <- s7[[1]][2, 3]
cat(sprintf("V-values %.10g %.10g, variance of the grand mean %.10g\n", ms7 / 3, ms7 / 4, ms7 / 7))
# A treatment applied to whole blocks (tests/golden/anova.files/blocktreat.dat): T is tested in
# the block stratum, S and T*S within blocks.
set.seed(5)
e <- expand.grid(S = 1:4, B = 1:6)
e$T <- c(1, 2, 2, 1, 1, 2)[e$B]
e$y <- round(10 + e$T + 0.5 * e$S + rnorm(6)[e$B] + rnorm(24), 2)
write.table(e[, c("y", "B", "T", "S")], "tests/golden/anova.files/blocktreat.dat",
            row.names = FALSE, col.names = FALSE)
g <- within(e, { B <- factor(B); T <- factor(T); S <- factor(S) })
print(summary(aov(y ~ T * S + Error(B), data = g)), digits = 10)
# KORW keeps variates in single precision: with the yields rounded to single precision R gives
# the T line as KORW prints it (0.004266760; the decimal data give 0.004266667).
f32 <- function(x) readBin(writeBin(x, raw(), size = 4), "double", n = length(x), size = 4)
g$y <- f32(g$y)
print(summary(aov(y ~ T * S + Error(B), data = g)), digits = 10)

# The oats split-plot of MASS (blocks, varieties on whole plots, nitrogen on subplots), written
# to tests/golden/anova.files/oats.dat as block, variety, nitrogen, yield.
library(MASS)
write.table(data.frame(B = as.integer(oats$B), V = as.integer(oats$V), N = as.integer(oats$N),
                       Y = oats$Y), "tests/golden/anova.files/oats.dat",
            row.names = FALSE, col.names = FALSE)
ofit <- aov(Y ~ N * V + Error(B / V), data = oats)
print(summary(ofit), digits = 10)
