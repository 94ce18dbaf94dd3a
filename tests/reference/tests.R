# Reference values for tests/golden/tests.out (Bartlett, F-test, correlations). Run from tests/.
d <- read.table("golden/tests.files/tests.dat", col.names=c("y","g","x1","x2","x3"))
print(bartlett.test(y ~ factor(g), data=d))
print(tapply(d$y, d$g, var), digits=15)
s <- d[d$g != 3,]
print(bartlett.test(y ~ factor(g), data=s))
v <- tapply(s$y, s$g, var); print(v, digits=15)
print(var.test(y ~ factor(g), data=s, alternative="less"))
print(cor(d[,c("y","x1","x2","x3")]), digits=6)
for (a in c("y","x1","x2")) for (b in c("x1","x2","x3")) if (a<b || a=="y") print(c(a,b,cor.test(d[[a]],d[[b]])$p.value))
