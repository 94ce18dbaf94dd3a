# Reference values for tests/golden/likelihood.out (glm of tests/golden/likelihood.files/glm.dat).
# Run from the repository root: Rscript tests/reference/likelihood_golden.R
d<-read.table("tests/golden/likelihood.files/glm.dat"); names(d)<-c("z","a","x","n","s","cnt")
d$a<-relevel(factor(d$a),ref="3")
m<-glm(cnt~a+x+offset(log(n)),family=poisson,data=d); print(deviance(m)); print(summary(m)$coef)
print(cbind(fitted(m),d$cnt-fitted(m),rstandard(m,type="pearson")))
# Pearson's X^2 of the fit and its upper tail on the residual degrees of freedom (FITLOGLINEAR).
x2<-sum((d$cnt-fitted(m))^2/fitted(m)); print(c(x2,pchisq(x2,df.residual(m),lower.tail=FALSE)),digits=10)
m1<-glm(z~x,binomial,d); m2<-glm(z~x+a,binomial,d); print(anova(m1,m2,test="Chisq")); print(summary(m2)$coef)
