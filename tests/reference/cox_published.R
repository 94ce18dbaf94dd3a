# Reference values of FITCOXMODEL on published survival data (package survival), all with
# Breslow's handling of tied deaths: the veteran lung cancer trial (many tied times, a factor
# whose last level KORW aliases where R aliases the first), the same stratified by treatment, and
# the Stanford heart transplant data in counting-process form (delayed entry). Writes the data
# files of tests/golden/cox_published.files and prints coefficients, standard deviations,
# -2 log partial likelihood and, for the heart data, the integrated baseline intensity at each
# unit's exit time with its standard deviation.
# Run from the repository root: Rscript tests/reference/cox_published.R
library(survival)
out <- "tests/golden/cox_published.files"
v <- veteran
write.table(data.frame(v$time, v$status, as.integer(v$celltype), v$karno, v$age, v$trt),
            file.path(out, "veteran.dat"), row.names = FALSE, col.names = FALSE)
show <- function(fit) {
  print(cbind(estimate = coef(fit), sd = sqrt(diag(fit$var))), digits = 6)
  cat("-2log(Likelihood) =", sprintf("%.4f", -2 * fit$loglik[2]), "\n")
}
# KORW's CELL[k] is R's celltype k minus celltype 4 (large).
show(coxph(Surv(time, status) ~ karno + age + relevel(celltype, ref = "large"), data = v,
           ties = "breslow"))
show(coxph(Surv(time, status) ~ karno + strata(trt), data = v, ties = "breslow"))

h <- heart
h$tr <- as.integer(as.character(h$transplant))
write.table(data.frame(h$start, h$stop, h$event, h$age, h$year, h$surgery, h$tr),
            file.path(out, "heart.dat"), row.names = FALSE, col.names = FALSE)
fit <- coxph(Surv(start, stop, event) ~ age + year + surgery + tr, data = h, ties = "breslow")
show(fit)
sf <- survfit(fit, newdata = data.frame(age = 0, year = 0, surgery = 0, tr = 0), ctype = 1)
at <- sapply(h$stop, function(t) {
  k <- which(sf$time <= t)
  if (length(k) == 0) c(0, 0) else c(sf$cumhaz[max(k)], sf$std.err[max(k)])
})
print(data.frame(unit = seq_along(h$stop), exit = h$stop, int = round(at[1, ], 4),
                 sd = round(at[2, ], 4)))
