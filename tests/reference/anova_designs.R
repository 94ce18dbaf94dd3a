# Reference values of the mixed-model analysis of variance for designs beyond a chain of nested
# strata: a strip-plot (rows and columns crossed within blocks, so the strata B*P and B*Q are not
# ordered) and the published Machines data of nlme (workers, machines, three replicates).
# Writes the data files of tests/golden/anova_designs.files and prints the strata of aov() with
# an Error() term, the variance components from the stratum mean squares and the variances of
# differences between means.
# Run from the repository root: Rscript tests/reference/anova_designs.R
library(nlme)
out <- "tests/golden/anova_designs.files"

# Strip-plot: 4 blocks, P (2 levels) on rows, Q (3 levels) on columns, 2 units per cell.
set.seed(11)
d <- expand.grid(R = 1:2, Q = 1:3, P = 1:2, B = 1:4)
d$y <- round(10 + d$P + 0.5 * d$Q + rnorm(4)[d$B] * 2 + rnorm(8)[(d$B - 1) * 2 + d$P] +
             rnorm(12)[(d$B - 1) * 3 + d$Q] * 1.5 + rnorm(48) * 0.7, 2)
write.table(d[, c("y", "B", "P", "Q")], file.path(out, "strip.dat"), row.names = FALSE,
            col.names = FALSE)
f <- within(d, { B <- factor(B); P <- factor(P); Q <- factor(Q) })
s <- summary(aov(y ~ P * Q + Error(B / (P + Q)), data = f))
print(s, digits = 10)
ms <- sapply(s, function(x) { x <- x[[1]]; x[nrow(x), "Mean Sq"] })
N <- nrow(d)
mB <- ms[[1]]; mP <- ms[[2]]; mQ <- ms[[3]]; mU <- ms[[4]]
sU <- mU; sBP <- (8 / N) * (mP - mU); sBQ <- (12 / N) * (mQ - mU)
sB <- (4 / N) * (mB - mP - mQ + mU)  # Moebius: B's units come back with a plus sign
cat(sprintf("components B %.6g B*P %.6g B*Q %.6g UNITS %.6g total %.6g\n",
            sB, sBP, sBQ, sU, sB + sBP + sBQ + sU))
# Residual F ratios: B against B*P (the first finer stratum it contains), B*P and B*Q against
# the units.
cat(sprintf("B vs B*P: F %.4f P %.4f\n", mB / mP, pf(mB / mP, 3, 3, lower.tail = FALSE)))
cat(sprintf("B*P vs UNITS: F %.4f P %.4f\n", mP / mU, pf(mP / mU, 3, 30, lower.tail = FALSE)))
cat(sprintf("B*Q vs UNITS: F %.4f P %.4f\n", mQ / mU, pf(mQ / mU, 6, 30, lower.tail = FALSE)))
# Means of 24 (P), 16 (Q) and 8 (P*Q) units; variances of differences by stratum.
print(tapply(d$y, list(d$P, d$Q), mean), digits = 10)
cat(sprintf("P: B*P %.6g UNITS %.6g\n", 2 * sBP / 4, 2 * sU / 24))
cat(sprintf("Q: B*Q %.6g UNITS %.6g\n", 2 * sBQ / 4, 2 * sU / 16))
cat(sprintf("P*Q: B*P %.6g B*Q %.6g UNITS %.6g\n", 2 * sBP / 4, 2 * sBQ / 4, 2 * sU / 8))
cat(sprintf("grand mean variance %.6g\n", sB / 4 + sBP / 8 + sBQ / 12 + sU / N))

# Machines: score of 6 workers on 3 machines, 3 times each.
m <- Machines
write.table(data.frame(as.integer(m$Worker), as.integer(m$Machine), m$score),
            file.path(out, "machines.dat"), row.names = FALSE, col.names = FALSE)
sm <- summary(aov(score ~ Machine + Error(Worker / Machine), data = m))
print(sm, digits = 10)
msm <- sapply(sm, function(x) { x <- x[[1]]; x[nrow(x), "Mean Sq"] })
cat(sprintf("components Worker %.6g Worker:Machine %.6g UNITS %.6g\n",
            (6 / 54) * (msm[[1]] - msm[[2]]), (18 / 54) * (msm[[2]] - msm[[3]]), msm[[3]]))
print(tapply(m$score, as.integer(m$Machine), mean), digits = 10)
cat(sprintf("SED^2 Machine %.6g\n", 2 * msm[[2]] / 18))

# The strip-plot with the cells B*P*Q random too: P*Q is tested in the cell stratum, and B's
# component takes MS_B - MS_BP - MS_BQ + MS_BPQ (the units stratum drops out of it).
s2 <- summary(aov(y ~ P * Q + Error(B / (P * Q)), data = f))
print(s2, digits = 10)
m2 <- sapply(s2, function(x) { x <- x[[1]]; x[nrow(x), "Mean Sq"] })
cat(sprintf("components B %.6g B*P %.6g B*Q %.6g B*P*Q %.6g UNITS %.6g\n",
            (4 / N) * (m2[[1]] - m2[[2]] - m2[[3]] + m2[[4]]), (8 / N) * (m2[[2]] - m2[[4]]),
            (12 / N) * (m2[[3]] - m2[[4]]), (24 / N) * (m2[[4]] - m2[[5]]), m2[[5]]))
