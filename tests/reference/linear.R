# Reference values for tests/models/linear_test.cpp: least-squares fits of the test data with
# lm, anova, summary, rstudent and hatvalues. Run: Rscript tests/reference/linear.R
options(digits = 15)
y  <- c(4.2, 5.1, 3.8, 6.0, 5.5, 7.1, 6.8, 8.2, 7.7, 5.9, 6.3, 9.1, 8.8, 7.4)
a  <- factor(c(1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3))
b  <- factor(c(1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 2, 1))
x1 <- c(1.5, 2.1, 0.7, 3.3, 2.8, 1.9, 4.0, 3.1, 2.2, 1.1, 3.7, 2.6, 4.4, 0.9)
w  <- c(1, 2, 0, 1, 1, 3, 1, 0, 2, 1, 1, 1, 2, 1)
# Single precision, as the variates hold them.
f <- function(v) { con <- rawConnection(raw(0), "r+"); writeBin(v, con, size = 4)
  seek(con, 0); r <- readBin(con, "double", length(v), size = 4); close(con); r }
y <- f(y); x1 <- f(x1); w <- f(w)
x2 <- f(2 * x1 + 1)
a <- relevel(a, ref = "3"); b <- relevel(b, ref = "2")  # the last level is the aliased one

show <- function(title, fit) {
  cat("==", title, "\n")
  print(anova(fit))
  print(coef(summary(fit)))
  cat("sigma^2", summary(fit)$sigma^2, " df", fit$df.residual, "\n")
  cat("r.squared", summary(fit)$r.squared, "\n")
}
show("one-way", lm(y ~ a))
two <- lm(y ~ a * b)
show("two-way", two)
print(anova(two)[["Pr(>F)"]], digits = 12)
print(rstudent(two)); print(hatvalues(two))
print(2 * pt(-abs(rstudent(two)), two$df.residual - 1))
show("aliased", lm(y ~ x1 + x2))
wt <- lm(y ~ a + x1, weights = w)
show("weighted", wt)
print(rstudent(wt))
show("no constant", lm(y ~ 0 + a + x1))
small <- lm(y ~ a + x1)
cat("== test model change, one-way then a + x1\n")
print(anova(lm(y ~ a), small))
