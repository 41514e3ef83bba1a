// The strip loops of the recursive Gaussian, included by glow.cpp once for
// each vector target (inside that target's namespace) and once for the plain
// form. No include guard: each inclusion is meant.
//
// The including code provides kLanes, LineCoefficients, Taps, TapsOf and a
// block of lanes VF with
//   BlockLanes()          how many lanes a block holds (it divides kLanes),
//   Splat(s)              s in every lane,
//   LoadLanes(p)          the floats at p,
//   StoreLanes(v, p)      v to the floats at p,
//   Times(a, b), Plus(a, b), Minus(a, b)
//                         lane by lane, each rounded on its own (never fused),
//   WidenBytes(p)         the bytes at p as floats,
//   StoreClamped(v, p)    each lane held to 0..255 (a lane that is not a
//                         number as 0), truncated, stored as a byte at p.
// Every lane goes through the multiplications and additions of the plain line
// recursion (glow.cpp, Recurse) in their order, none regrouped, so that every
// form gives the bytes of the plain lines.

// One step of the recursion past the first four samples: x0 takes the new
// samples (from bytes), v0 the recursion's values. The sum is formed in the
// same order as in Recurse. With kOut the step also stores the byte of the
// value plus p (the other direction's value) at o, which may be row: each
// block of samples is read before its bytes are written.
template <bool kOut>
[[gnu::always_inline]] inline void
Step(const uint8_t* row, float* __restrict x0, const float* __restrict x1,
     const float* __restrict x2, const float* __restrict x3, const float* __restrict x4,
     float* __restrict v0, const float* __restrict v1, const float* __restrict v2,
     const float* __restrict v3, const float* __restrict v4, VF n0, VF n1, VF n2, VF n3, VF n4,
     VF d1, VF d2, VF d3, VF d4, const float* __restrict p, uint8_t* o) {
    const size_t block = BlockLanes();
    for (size_t l = 0; l < size_t(kLanes); l += block) {
        const VF x = WidenBytes(row + l);
        VF a = Times(n0, x);
        a = Plus(a, Minus(Times(n1, LoadLanes(x1 + l)), Times(d1, LoadLanes(v1 + l))));
        a = Plus(a, Minus(Times(n2, LoadLanes(x2 + l)), Times(d2, LoadLanes(v2 + l))));
        a = Plus(a, Minus(Times(n3, LoadLanes(x3 + l)), Times(d3, LoadLanes(v3 + l))));
        a = Plus(a, Minus(Times(n4, LoadLanes(x4 + l)), Times(d4, LoadLanes(v4 + l))));
        StoreLanes(x, x0 + l);
        StoreLanes(a, v0 + l);
        if constexpr (kOut) StoreClamped(Plus(LoadLanes(p + l), a), o + l);
    }
}

// The first four steps (k = 0..3): taps that would reach before the line's
// start take the edge sample xs[0] with the edge factors.
inline void EdgeStep(int k, const uint8_t* row, float* const* xs, float* const* vs, const Taps& c) {
    float* x0 = xs[0];
    float* v0 = vs[0];
    for (int l = 0; l < kLanes; ++l) {
        x0[l] = float(row[l]);
        v0[l] = c.n[0] * x0[l];
    }
    for (int i = 1; i <= k; ++i)
        for (int l = 0; l < kLanes; ++l) v0[l] += c.n[i] * xs[i][l] - c.d[i] * vs[i][l];
    const float* edge = xs[k]; // the line's first sample
    for (int j = k + 1; j <= 4; ++j)
        for (int l = 0; l < kLanes; ++l) v0[l] += c.e[j] * edge[l];
}

// The causal part of a strip of n samples into vp (n * kLanes values, sample
// t at vp[t * kLanes]); the samples' history stays in a ring of five rows,
// the values' history is vp itself.
void StripCausal(const uint8_t* in, size_t stride, int n, float* __restrict vp,
                 const LineCoefficients* c) {
    const Taps k = TapsOf(c->np, c->dp, c->ep);
    const VF n0 = Splat(k.n0), n1 = Splat(k.n1), n2 = Splat(k.n2), n3 = Splat(k.n3),
             n4 = Splat(k.n4), d1 = Splat(k.d1), d2 = Splat(k.d2), d3 = Splat(k.d3),
             d4 = Splat(k.d4);
    alignas(64) float ring[5][kLanes];
    for (int t = 0; t < n; ++t) {
        float* xs[5];
        float* vs[5];
        for (int i = 0; i < 5 && i <= t; ++i) {
            xs[i] = ring[(t - i) % 5];
            vs[i] = vp + size_t(t - i) * kLanes;
        }
        const uint8_t* row = in + size_t(t) * stride;
        if (t < 4)
            EdgeStep(t, row, xs, vs, k);
        else
            Step<false>(row, xs[0], xs[1], xs[2], xs[3], xs[4], vs[0], vs[1], vs[2], vs[3], vs[4],
                        n0, n1, n2, n3, n4, d1, d2, d3, d4, nullptr, nullptr);
    }
}

// The anti-causal part, from the last sample back, added to vp; the sums
// become bytes at out[t * outStride + l]. out may be in (same stride): each
// sample is read before its result is written.
void StripAntiCausal(const uint8_t* in, size_t inStride, uint8_t* out, size_t outStride, int n,
                     const float* __restrict vp, const LineCoefficients* c) {
    const Taps k = TapsOf(c->nm, c->dm, c->em);
    const VF n0 = Splat(k.n0), n1 = Splat(k.n1), n2 = Splat(k.n2), n3 = Splat(k.n3),
             n4 = Splat(k.n4), d1 = Splat(k.d1), d2 = Splat(k.d2), d3 = Splat(k.d3),
             d4 = Splat(k.d4);
    alignas(64) float xring[5][kLanes], vring[5][kLanes];
    for (int step = 0; step < n; ++step) {
        const int t = n - 1 - step;
        float* xs[5];
        float* vs[5];
        for (int i = 0; i < 5 && i <= step; ++i) {
            xs[i] = xring[(step - i) % 5];
            vs[i] = vring[(step - i) % 5];
        }
        const uint8_t* row = in + size_t(t) * inStride;
        const float* p = vp + size_t(t) * kLanes;
        uint8_t* o = out + size_t(t) * outStride;
        if (step < 4) {
            EdgeStep(step, row, xs, vs, k);
            const size_t block = BlockLanes();
            for (size_t l = 0; l < size_t(kLanes); l += block)
                StoreClamped(Plus(LoadLanes(p + l), LoadLanes(vs[0] + l)), o + l);
        } else {
            Step<true>(row, xs[0], xs[1], xs[2], xs[3], xs[4], vs[0], vs[1], vs[2], vs[3], vs[4],
                       n0, n1, n2, n3, n4, d1, d2, d3, d4, p, o);
        }
    }
}

// Both parts of one strip: samples at in[t * inStride + l], bytes out at
// out[t * outStride + l] (out may be in with the same stride); vp holds
// n * kLanes values of work space.
void FilterStrip(const uint8_t* in, size_t inStride, uint8_t* out, size_t outStride, int n,
                 float* vp, const LineCoefficients* c) {
    StripCausal(in, inStride, n, vp, c);
    StripAntiCausal(in, inStride, out, outStride, n, vp, c);
}
