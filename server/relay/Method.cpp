#include "server/relay/Method.h"

#include <algorithm>
#include <cmath>

namespace zeza::relay {
namespace {

// Solves a x = b for a small symmetric positive system (n <= kIndexCount) by elimination with
// partial pivoting; false when it is singular.
template <size_t N>
bool Solve(std::array<std::array<double, N>, N> a, std::array<double, N> b, size_t n,
           std::array<double, N>& x) {
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (std::fabs(a[pivot][col]) < 1e-18) return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (size_t r = col + 1; r < n; ++r) {
            double f = a[r][col] / a[col][col];
            for (size_t c = col; c < n; ++c) a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t c = i + 1; c < n; ++c) s -= a[i][c] * x[c];
        x[i] = s / a[i][i];
    }
    return true;
}

double MixMove(const std::array<double, kIndexCount>& mix, const std::array<double, kIndexCount>& index) {
    double m = 0;
    for (int k = 0; k < kIndexCount; ++k)
        if (mix[k] != 0) m += mix[k] * index[k];
    return m;
}

}  // namespace

FundFit FitFund(const std::vector<FitDay>& days, bool holdsHongKong) {
    FundFit fit;
    const int used = holdsHongKong ? kIndexCount : kHangSeng;
    auto complete = [&](const FitDay& d) {
        if (!std::isfinite(d.navChange)) return false;
        for (int k = 0; k < used; ++k)
            if (!std::isfinite(d.index[k])) return false;
        return true;
    };
    std::array<std::array<double, kIndexCount>, kIndexCount> xtx{};
    std::array<double, kIndexCount> xty{};
    size_t n = 0;
    for (auto it = days.rbegin(); it != days.rend() && n < kFitDays; ++it) {
        if (!complete(*it)) continue;
        ++n;
        for (int i = 0; i < used; ++i) {
            xty[i] += it->index[i] * it->navChange;
            for (int j = 0; j < used; ++j) xtx[i][j] += it->index[i] * it->index[j];
        }
    }
    if (n < kFitDays / 3) return fit;
    // The same pull per day whatever the number of days, so a short history is not fitted looser.
    for (int i = 0; i < used; ++i) xtx[i][i] += kFitRidge * static_cast<double>(n) / kFitDays;
    std::array<double, kIndexCount> beta{};
    if (!Solve(xtx, xty, static_cast<size_t>(used), beta)) return fit;
    double sum = 0;
    for (int i = 0; i < used; ++i) sum += beta[i];
    if (!std::isfinite(sum) || sum < kMinFitExposure) return fit;
    fit.days = static_cast<int>(n);
    fit.exposure = sum;
    for (int i = 0; i < used; ++i) fit.mix[i] = beta[i] / sum;
    for (const FitDay& d : days) {
        if (!std::isfinite(d.topTen) || !complete(d)) continue;
        double m = MixMove(fit.mix, d.index);
        fit.tt += d.topTen * d.topTen;
        fit.tm += d.topTen * m;
        fit.mm += m * m;
        fit.ty += d.topTen * d.navChange;
        fit.my += m * d.navChange;
        ++fit.recordDays;
    }
    return fit;
}

MethodResult EstimateChange(const MethodInput& in, const ChangeLookup& shareChange,
                            const ChangeLookup& indexChange) {
    MethodResult r;
    const std::vector<HeldStock>* list = in.topTen;
    double pct = in.equityPct;
    // A complete list sees the shares a top ten leaves out; the caller gives it only when it
    // is at least as new as the top ten.
    const bool fullList = in.full && !in.full->empty() && in.fullEquityPct >= 0;
    if (fullList) {
        list = in.full;
        pct = in.fullEquityPct;
    }
    if (!list || list->empty() || pct < 0) return r;
    double moved = 0;
    for (const HeldStock& s : *list) {
        r.listed += s.weight;
        if (s.key.empty()) continue;
        auto c = shareChange(s.key);
        if (!c) continue;
        r.covered += s.weight;
        moved += s.weight * *c;
    }
    r.coverage = r.listed > 0 ? r.covered / r.listed : 0;
    if (r.covered <= 0) return r;
    r.ok = true;
    r.listMove = moved / r.covered;
    r.exposure = pct / 100;
    r.change = pct / 100 * moved / r.covered;
    r.method = fullList ? "plain (full list)" : "plain";
    const FundFit* fit = in.fit;
    if (!fit || fit->days <= 0) return r;
    r.fittedExposure = fit->exposure;
    std::array<double, kIndexCount> index{};
    for (int k = 0; k < kIndexCount; ++k) {
        if (fit->mix[k] == 0) continue;
        auto c = indexChange(std::string(kIndexKeys[k]));
        // Without every index of the mix the rest would follow part of it: the plain formula.
        if (!c) return r;
        index[k] = *c;
    }
    const double p = pct / 100, listMove = moved / r.covered, rest = MixMove(fit->mix, index);
    // The quoted list's weight is its own; the remaining equity mostly follows the fitted indices.
    const double inList = std::min(r.covered / 100, p);
    double a = inList + (p - inList) * kRestLikeList, b = (p - inList) * (1 - kRestLikeList);
    r.method = fullList ? "index mix (full list)" : "index mix";
    if (fit->recordDays > 0) {
        // Ridge toward the report's split: the fund's own days under this list correct it as
        // far as they are many and consistent.
        std::array<std::array<double, 2>, 2> m{
            {{fit->tt + kRecordPrior, fit->tm}, {fit->tm, fit->mm + kRecordPrior}}};
        std::array<double, 2> v{fit->ty + kRecordPrior * a, fit->my + kRecordPrior * b}, x{};
        if (Solve(m, v, 2, x)) {
            a = x[0];
            b = x[1];
            r.method = fullList ? "index mix + record (full list)" : "index mix + record";
        }
    }
    r.change = a * listMove + b * rest;
    return r;
}

}  // namespace zeza::relay
