#pragma once
// Kernels of the channel routing step: the translation of one sub-channel
// through its storage elements and the two parallel linear storages behind
// it. All flows are rates in mm per time step, one value per time
// sub-interval; arrays are 1-based as in the routing's storage-element
// arrays.

// Positions of one sub-channel's storage elements: its block starts at `b`
// and is `blockLength` positions long; `subIntervals` positions of water enter
// and leave in every step.
struct SubChannelBlock {
    int b = 1;
    int blockLength = 1;
    int subIntervals = 1;
};

// One step of pure translation by `D` storage elements.
//   elements[t][p]  storage elements of tracer t (0 water, 1..T concentrations)
//   input[t][s]     the step's input of sub-interval s = 1..Ns
//   fill            the last occupied position; updated to the new one
//   store[t]        water (the sum of the element values it stands for) and
//                   concentrations held apart from the elements: only a
//                   state written by an earlier version holds any; it goes
//                   into the elements with the next step's input (a negative
//                   amount is taken from them, as far as they hold water)
//   decay[t]        factor applied to tracer t as its water enters (1..T)
//   scratch         (T + 1) x (D + Ns) doubles of work space
// The input goes to p0 = b + Ns + D .. p0 + Ns - 1, then every position of
// the block takes the value Ns positions above it, so that positions
// b .. b + Ns - 1 hold the water leaving the translation in this step.
// When D differs from the length in transit (fill - b - Ns + 1), the water
// in transit and the input are spread evenly over the D + Ns positions from
// b + Ns on: a longer translation stretches them, a shorter one squeezes
// them, and no water is made or lost.
void TranslateSubChannel(double* const* elements, const double* const* input, int tracers, const SubChannelBlock& block,
                         int D, int& fill, double* store, const double* decay, double* scratch);

// Outflow of the two parallel linear storages for one sub-interval:
//   out = (1-kh)(1-phi) x + kh (1-phi0) y + (1-kv) phi x + kv phi0 y
// with input x, the previous outflow y of the same sub-interval, the
// flood-plain share phi of this step and phi0 of the previous one, and the
// retention factors kh = exp(-1/k_main), kv = exp(-1/k_plain).
double LinearStorageOutflow(double x, double y, double phi, double phi0, double kh, double kv);

// Water held by the two linear storages whose last outflow was `y` with
// flood-plain share `phi`: kh/(1-kh) (1-phi) y + kv/(1-kv) phi y, in the
// unit of y (a factor of exactly 1 holds nothing).
double LinearStorageContent(double y, double phi, double kh, double kv);

// One sub-interval of the two parallel linear storages, each keeping its own
// last outflow:
//   yMain' = (1-kh)(1-phi) x + kh yMain,  yPlain' = (1-kv) phi x + kv yPlain
// Returns yMain' + yPlain' and leaves the two in `yMain` and `yPlain`. Each
// storage then holds k/(1-k) times its own outflow, whatever share the flood
// plains carried before.
double TwoLinearStorages(double x, double phi, double kh, double kv, double& yMain, double& yPlain);

// Water held by the two storages with last outflows `yMain` and `yPlain`:
// kh/(1-kh) yMain + kv/(1-kv) yPlain (a factor of exactly 1 holds nothing).
double TwoLinearStoragesContent(double yMain, double yPlain, double kh, double kv);

// Decay factor of a tracer over `D` storage elements of `dtMinutes / Ns`
// each: exp(-(D dt / Ns / 60 / 24) / (1.442695041111 h)) for a half-life
// h > 0 [d]; 0 for a decaying tracer without a positive half-life; 1 for a
// tracer that does not decay.
double TranslationDecayFactor(bool decays, double halfLifeDays, int D, double dtMinutes, int subIntervals);
