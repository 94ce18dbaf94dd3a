# Reference values for tests/models/likelihood_test.cpp: logit-linear and log-linear fits of
# the model test data with glm and anova. Run: Rscript tests/reference/likelihood.R
options(digits = 15)
f <- function(v) { con <- rawConnection(raw(0), "r+"); writeBin(v, con, size = 4)
  seek(con, 0); r <- readBin(con, "double", length(v), size = 4); close(con); r }
a  <- relevel(factor(c(1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3)), ref = "3")
b  <- relevel(factor(c(1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 2, 1)), ref = "2")
x1 <- f(c(1.5, 2.1, 0.7, 3.3, 2.8, 1.9, 4.0, 3.1, 2.2, 1.1, 3.7, 2.6, 4.4, 0.9))
z  <- c(0, 1, 0, 0, 1, 1, 0, 1, 1, 0, 0, 1, 1, 1)
n  <- c(5, 8, 6, 7, 9, 4, 5, 6, 8, 7, 5, 9, 6, 7)
s  <- c(1, 3, 2, 4, 6, 2, 3, 5, 6, 3, 2, 8, 5, 6)
p  <- f(s / n)
cnt <- c(3, 5, 2, 8, 6, 9, 7, 12, 10, 6, 7, 14, 13, 9)
lt <- f(log(n))
show <- function(title, fit) {
  cat("==", title, "\n")
  print(coef(summary(fit)))
  cat("deviance", deviance(fit), " df", fit$df.residual, " iter", fit$iter, "\n")
  cat("P", pchisq(deviance(fit), fit$df.residual, lower.tail = FALSE), "\n")
}
binary <- glm(z ~ x1 + b, family = binomial); show("binary", binary)
print(fitted(binary)); print(rstandard(binary, type = "pearson"))
small <- glm(z ~ x1, family = binomial)
print(anova(small, binary, test = "Chisq"))
grouped <- suppressWarnings(glm(p ~ a + x1, weights = n, family = binomial))
show("totals", grouped)
pois <- glm(cnt ~ a + x1, family = poisson); show("poisson", pois)
cat("pearson", sum((cnt - fitted(pois))^2 / fitted(pois)), "\n")
off <- glm(cnt ~ a + x1 + offset(lt), family = poisson); show("offset", off)
print(fitted(off))
# Completely separated data (sep = x1 > 2.5): glm ends near deviance 0 with a warning; with the
# largest x1 set to 0 the data overlap and the fit has a maximum.
sep <- as.numeric(x1 > 2.5)
print(deviance(suppressWarnings(glm(sep ~ x1, family = binomial))))
w <- sep; w[13] <- 0
ww <- glm(w ~ x1, family = binomial); print(c(deviance(ww), coef(ww)))
