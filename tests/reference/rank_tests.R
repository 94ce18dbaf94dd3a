# Reference values for tests/tools/rank_tests_test.cpp and tests/golden/ranktests.out.
# Run from the repository root: Rscript tests/reference/rank_tests.R
# The package's Wilcoxon U is the normal approximation without continuity correction, its
# Spearman p is 2 * pnorm(-|r| sqrt(n - 1)); with ties the package reports the midpoint of the
# two extreme rankings, which R does not compute (those cases are checked by hand).
wil <- function(a, b) {
  w <- wilcox.test(a, b, exact=FALSE, correct=FALSE)
  n1 <- length(a); n2 <- length(b); N <- n1 + n2
  s <- w$statistic + n1 * (n1 + 1) / 2
  u <- (s - n1 * (N + 1) / 2) / sqrt(n1 * n2 * (N + 1) / 12)
  print(c(W=unname(w$statistic), ranksum=unname(s), E=n1 * (N + 1) / 2, U=unname(u),
          p=w$p.value), digits=10)
}
spe <- function(x, y) {
  r <- cor(x, y, method="spearman")
  print(c(r=r, p=2 * pnorm(-abs(r) * sqrt(length(x) - 1))), digits=10)
}
cat("unit tests\n")
wil(c(1, 2, 3), c(4, 5))
wil(c(3.1, 4.7, 2.2, 6.4), c(7.3, 8.8, 5.0, 9.6, 4.1, 0.5))
x <- c(1.2, 3.4, 2.2, 5.1, 4.4, 0.3, 6.6, 2.9, 7.7, 3.9)
y <- c(2.0, 1.1, 3.5, 4.2, 6.0, 0.7, 5.5, 2.6, 8.1, 3.0)
spe(x, y); spe(y[1:9], x[1:9])
print(2 * pnorm(-c(2, 1.5 / sqrt(5 / 3), 0.9 * sqrt(3), sqrt(3), 0.8 * sqrt(3), 1)), digits=10)
d <- read.table("tests/golden/likelihood.files/glm.dat"); names(d) <- c("z","a","x","n","s","cnt")
d$a <- relevel(factor(d$a), ref="3")
m <- glm(cnt ~ a + x + offset(log(n)), family=poisson, data=d)
x2 <- sum((d$cnt - fitted(m))^2 / fitted(m)); print(c(X2=x2, p=pchisq(x2, 10, lower.tail=FALSE)), digits=10)

cat("golden ranktests\n")
r <- read.table("tests/golden/ranktests.files/rank.dat", na.strings="*",
                col.names=c("y","g","t","x","m"))
wil(r$y[r$g == 1], r$y[r$g == 2])
wil(r$y[r$g == 3], r$y[r$g == 2])
spe(r$x, r$y); spe(r$m[-3], r$x[-3])
u <- 1:12
cm <- with(r, data.frame(c1=y, c2=x, c3=t, c4=sin(u), c5=cos(u), c6=y * x, c7=(u - 6)^2,
                         c8=log(y + x), c9=sin(3 * u) + y, c10=cos(2 * u) - x, c11=u + y,
                         col12=sqrt(x) * t))
print(round(cor(cm), 5))
p <- outer(1:12, 1:12, Vectorize(function(i, j) cor.test(cm[[i]], cm[[j]])$p.value))
print(ifelse(p < 0.01, "**", ifelse(p < 0.05, "* ", "  ")), quote=FALSE)
# FITLOGLINEAR k = 1 and k - lk = 1 with k = 2, 3, 4 and lk = ln(1, 2, 3): Pearson's X^2.
k <- c(2, 3, 4)
for (m in list(glm(k ~ 1, family=poisson), glm(k ~ 1 + offset(log(1:3)), family=poisson))) {
  x2 <- sum((k - fitted(m))^2 / fitted(m))
  print(c(X2=x2, p=pchisq(x2, df.residual(m), lower.tail=FALSE)), digits=10)
}
