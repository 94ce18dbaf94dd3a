# Reference values for tests/golden/likelihood.out (glm of tests/golden/likelihood.files/glm.dat).
# Run from the repository root: Rscript tests/reference/likelihood_golden.R
d<-read.table("tests/golden/likelihood.files/glm.dat"); names(d)<-c("z","a","x","n","s","cnt")
d$a<-relevel(factor(d$a),ref="3")
m<-glm(cnt~a+x+offset(log(n)),family=poisson,data=d); print(deviance(m)); print(summary(m)$coef)
print(cbind(fitted(m),d$cnt-fitted(m),rstandard(m,type="pearson")))
print(sum((d$cnt-fitted(m))^2/fitted(m)))
m1<-glm(z~x,binomial,d); m2<-glm(z~x+a,binomial,d); print(anova(m1,m2,test="Chisq")); print(summary(m2)$coef)
