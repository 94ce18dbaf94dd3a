# Reference values for tests/golden/published_fits: Cox, conditional logit and Rasch fits of
# published data sets, each printed to more digits than the transcript shows. Writes the data
# files of tests/golden/published_fits.files first.
# Run from the repository root: Rscript tests/reference/published_fits.R
library(survival)
library(eRm)
dir <- "tests/golden/published_fits.files"
put <- function(d, file) {
  d[is.na(d)] <- "*"
  write.table(d, file.path(dir, file), row.names = FALSE, col.names = FALSE, quote = FALSE)
}
show <- function(f) {
  print(summary(f)$coefficients, digits = 10)
  cat("-2logL:", format(-2 * f$loglik[length(f$loglik)], digits = 10), "\n\n")
}

# lung: status 2 is a death; ph.ecog has one missing value (unit 14), which the transcript
# excludes. KORW's reference level of SEX is its last, R's its first: the signs differ.
put(data.frame(lung$time, as.integer(lung$status == 2), lung$age, lung$sex, lung$ph.ecog),
    "lung.dat")
show(coxph(Surv(time, status) ~ age + factor(sex) + ph.ecog, data = lung, ties = "breslow"))
# The baseline of KORW's parameters (age 0, sex 2, ph.ecog 0): integrated intensity and its
# standard deviation at the exit times of the first 8 units.
f <- coxph(Surv(time, status) ~ age + factor(sex, levels = 2:1) + ph.ecog, data = lung,
           ties = "breslow")
s <- survfit(f, newdata = data.frame(age = 0, sex = 2, ph.ecog = 0), ctype = 1, se.fit = TRUE)
at <- match(lung$time[1:8], s$time)
print(data.frame(time = s$time[at], cumhaz = s$cumhaz[at], sd = s$std.err[at]), digits = 8)
show(coxph(Surv(time, status) ~ age + factor(sex), data = lung[!is.na(lung$ph.ecog), ],
           ties = "breslow"))
lung1 <- lung[!is.na(lung$ph.ecog), ]
cat("-2logL no covariates:", format(-2 * coxph(Surv(time, status) ~ 1, data = lung1,
                                                ties = "breslow")$loglik, digits = 10), "\n")
show(coxph(Surv(time, status) ~ age + strata(sex), data = lung1, ties = "breslow"))

# veteran, one underlying intensity per cell type.
put(data.frame(veteran$time, veteran$status, veteran$trt, veteran$karno, veteran$age,
               as.integer(veteran$celltype)), "veteran.dat")
show(coxph(Surv(time, status) ~ karno + age + factor(trt, levels = 2:1) + strata(celltype),
           data = veteran, ties = "breslow"))

# heart: (start, stop] intervals, start the entry time.
put(data.frame(heart$start, heart$stop, heart$event, heart$age, heart$year, heart$surgery,
               as.integer(heart$transplant) - 1), "heart.dat")
show(coxph(Surv(start, stop, event) ~ age + year + surgery + transplant, data = heart,
           ties = "breslow"))

# infert: matched sets by stratum (the data sorted by it).
i <- infert[order(infert$stratum), ]
put(data.frame(i$stratum, i$case, i$spontaneous, i$induced), "infert.dat")
show(clogit(case ~ spontaneous + induced + strata(stratum), data = i, method = "exact"))

# raschdat1: item totals and the numbers of persons with each total score. eRm fixes the
# first item at 0, KORW aliases the last: compare differences of item parameters.
X <- raschdat1
put(data.frame(colSums(X), sapply(seq_len(ncol(X)), function(r) sum(rowSums(X) == r))),
    "rasch.dat")
m <- RM(X, sum0 = FALSE)
cat("-2logL:", format(-2 * m$loglik, digits = 10), "\n")
print(data.frame(item = 1:5, minusLast = (m$betapar - m$betapar[30])[1:5]), digits = 8)
# Standard deviations of item 1 - item 30 (ITEM[1]) and of item 1 - item 2 (ESTIMATE C).
cat("sd item1-item30:", format(m$se.beta[30], digits = 8), " sd item1-item2:",
    format(m$se.beta[2], digits = 8), "\n")
