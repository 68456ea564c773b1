"""Approximate Bayesian computation by sequential Monte Carlo (ABC-SMC) with an adaptive tolerance: the
algorithm alone, on numpy, knowing nothing of soilweb. A model is anything that turns a batch of proposals
into simulated summaries (one vector each, NaN where it has none); a distance compares one with the
observations under per-summary scales fitted to a generation's simulations.

Generation 0 draws from the prior and keeps the first N proposals that simulate; each later generation draws
ancestors from the previous population by weight, moves them with a multivariate normal kernel of twice the
population's weighted covariance, and keeps the first N proposals whose distance is within the generation's
tolerance: the alpha-quantile of the previous population's distances. Weights are prior(z) /
sum_j w_j K(z | z_j), normalised.

Every random draw of proposal i of generation g comes from a generator seeded with (master seed, g, i), and
proposals are accepted in their order, so a calibration depends on neither the size of its batches nor the
order in which their runs end: it can be stopped, replayed from its stored simulations and carried on."""
import math

import numpy as np
from scipy import special

# Tries of the kernel before a particle with no neighbour inside the prior's support is given up.
MOST_MOVES = 10000


class Prior:
    """One parameter's prior, in the coordinate the algorithm moves it in: the value itself, or its logarithm
    for a log-scale prior. A whole-number key moves in a continuous coordinate and takes its floor (uniform:
    each whole number of [min, max] equally likely, as sweeps sample them) or its nearest whole number
    (normal); the model only ever sees whole numbers."""

    def __init__(self, name, kind, low=-math.inf, high=math.inf, mean=None, sd=None, whole=False):
        self.name, self.kind, self.whole = name, kind, whole
        self.mean, self.sd = mean, sd
        self.low, self.high = low, high  # of the value; for a normal prior, its truncation
        if kind == "uniform":
            self.start, self.end = low, high + (1 if whole else 0)
        elif kind == "log":
            self.start, self.end = math.log(low), math.log(high + (1 if whole else 0))
        else:
            self.start, self.end = low - (0.5 if whole else 0), high + (0.5 if whole else 0)
            self.cdf_start = special.ndtr((self.start - mean) / sd)
            self.cdf_end = special.ndtr((self.end - mean) / sd)

    def draw(self, rng):
        u = rng.random()
        if self.kind == "normal":  # the inverse of the truncated distribution function
            z = self.mean + self.sd * special.ndtri(self.cdf_start + u * (self.cdf_end - self.cdf_start))
            return float(min(max(z, self.start), self.end))
        return self.start + u * (self.end - self.start)

    def density(self, z):
        """The prior's density at z, up to a constant factor (the same for every particle)."""
        if not (self.start <= z <= self.end) or (self.whole and self.kind != "normal" and z >= self.end):
            return 0.0
        if self.kind == "normal":
            return math.exp(-0.5 * ((z - self.mean) / self.sd) ** 2)
        return 1.0

    def value(self, z):
        """What the model is given for coordinate z."""
        if self.kind == "log":
            x = math.exp(z)
            return min(self.high, int(math.floor(x * (1 + 1e-12)))) if self.whole else x
        if not self.whole:
            return z
        return min(self.high, int(math.floor(z))) if self.kind == "uniform" else int(math.floor(z + 0.5))

    def width(self):
        """The span of the coordinate the prior covers: a kernel's least spread is a small share of it."""
        if math.isfinite(self.end - self.start):
            return self.end - self.start
        return 6 * self.sd


class Proposal:
    """Proposal `index` of generation `generation`: its coordinates, the model's values and the seeds of its
    runs (one per replicate)."""

    def __init__(self, generation, index, z, values, seeds):
        self.generation, self.index, self.z, self.values, self.seeds = generation, index, z, values, seeds


class Population:
    """A generation's accepted particles, in the order they were proposed, and what the next one starts from."""

    def __init__(self, generation, tolerance, proposals, distances, weights, simulated, consumed, scales):
        self.generation, self.tolerance = generation, tolerance
        self.proposals = proposals                  # the accepted ones
        self.z = np.array([p.z for p in proposals])
        self.distances = np.asarray(distances, dtype=float)
        self.weights = np.asarray(weights, dtype=float)
        self.simulated = simulated                  # every consumed proposal's summaries, by index
        self.consumed = consumed                    # proposals looked at, up to the last accepted
        self.scales = scales

    def acceptance(self):
        return len(self.proposals) / self.consumed

    def ess(self):
        return effective_sample_size(self.weights)


def effective_sample_size(weights):
    """Kish's effective sample size of normalised weights: 1 / sum w_i^2."""
    w = np.asarray(weights, dtype=float)
    return float(1.0 / np.sum(w * w))


def weighted_covariance(z, weights):
    mean = np.sum(z * weights[:, None], axis=0)
    centred = z - mean
    return np.einsum("n,ni,nj->ij", weights, centred, centred)


class Kernel:
    """The perturbation kernel of a generation: a multivariate normal around an ancestor, of twice the previous
    population's weighted covariance (a coordinate that does not vary at all is given a spread of a
    thousandth of its prior's width, so that it can still move; two that move as one are kept apart by a
    ridge of a millionth of each width)."""

    def __init__(self, population, priors):
        cov = 2 * weighted_covariance(population.z, population.weights)
        for k, prior in enumerate(priors):
            cov[k, k] = max(cov[k, k], (prior.width() * 1e-3) ** 2) + (prior.width() * 1e-6) ** 2
        self.covariance = cov
        self.cholesky = np.linalg.cholesky(cov)
        self.inverse = np.linalg.inv(cov)
        self.population = population

    def move(self, rng, ancestor):
        step = self.cholesky @ rng.standard_normal(len(ancestor))
        return ancestor + step

    def mixture_density(self, z):
        """sum_j w_j K(z | z_j), up to the kernel's constant factor (the same for every particle)."""
        diff = self.population.z - z
        exponent = -0.5 * np.einsum("ni,ij,nj->n", diff, self.inverse, diff)
        return float(np.sum(self.population.weights * np.exp(exponent)))


class Sampler:
    """The state of an ABC-SMC calibration: its settings and the populations closed so far.

    distance: an object with scales(matrix of simulated summaries, one row a proposal) and
    __call__(summaries, scales) -> float (infinite when the summaries cannot be compared)."""

    def __init__(self, priors, distance, population, seed, alpha=0.5, replicates=1):
        if population < 2:
            raise ValueError("a population needs at least 2 particles")
        self.priors, self.distance = priors, distance
        self.size, self.seed, self.alpha, self.replicates = population, seed, alpha, replicates
        self.populations = []
        self.kernels = {}
        self.open = None  # the generation being filled: its scales, tolerance and verdicts so far

    def proposal(self, generation, index):
        """Proposal index of a generation (its generator seeded with master seed, generation and index)."""
        rng = np.random.default_rng([self.seed, generation, index])
        if generation == 0:
            z = np.array([prior.draw(rng) for prior in self.priors])
        else:
            z = self._moved(rng, generation)
        seeds = [int(s) for s in rng.integers(1, 2**31 - 1, size=self.replicates)]
        return Proposal(generation, index, z, [prior.value(float(c)) for prior, c in zip(self.priors, z)], seeds)

    def _moved(self, rng, generation):
        previous = self.populations[generation - 1]
        kernel = self.kernel(generation)
        for _ in range(MOST_MOVES):
            ancestor = previous.z[rng.choice(len(previous.weights), p=previous.weights)]
            z = kernel.move(rng, ancestor)
            if self.prior_density(z) > 0:
                return z
        raise RuntimeError(f"no move of generation {generation} stayed within the prior in {MOST_MOVES} tries")

    def kernel(self, generation):
        if generation not in self.kernels:
            self.kernels[generation] = Kernel(self.populations[generation - 1], self.priors)
        return self.kernels[generation]

    def prior_density(self, z):
        return math.prod(prior.density(float(c)) for prior, c in zip(self.priors, z))

    def next_scales_and_tolerance(self, generation):
        """The scales and tolerance of a generation: scales fitted to the previous generation's simulations, and
        the alpha-quantile of its accepted particles' distances measured anew with them (none for generation 0,
        which accepts whatever simulates)."""
        if generation == 0:
            return None, math.inf
        previous = self.populations[generation - 1]
        scales = self.distance.scales(np.array([previous.simulated[i] for i in sorted(previous.simulated)]))
        again = [self.distance(previous.simulated[p.index], scales) for p in previous.proposals]
        return scales, float(np.quantile(again, self.alpha))

    def close(self, generation, simulated):
        """Closes the generation when its first N acceptable proposals, in order, have all been simulated.
        simulated: index -> summaries (a vector) of the proposals simulated so far. Returns the Population, or
        (the first index still needed, the number accepted before it)."""
        if self.open is None or self.open[0] != generation:  # what a generation's closes share
            self.open = (generation, *self.next_scales_and_tolerance(generation), {})
        _, scales, tolerance, acceptable = self.open
        accepted, index = [], 0
        while len(accepted) < self.size:
            if index not in simulated:
                return index, len(accepted)
            if index not in acceptable:
                summaries = simulated[index]
                acceptable[index] = not np.all(np.isnan(summaries)) if generation == 0 else \
                    self.distance(summaries, scales) <= tolerance
            if acceptable[index]:
                accepted.append(index)
            index += 1
        consumed = {i: simulated[i] for i in range(index)}
        if generation == 0:  # scaled by its own simulations
            scales = self.distance.scales(np.array([consumed[i] for i in range(index)]))
        proposals = [self.proposal(generation, i) for i in accepted]
        distances = [self.distance(simulated[i], scales) for i in accepted]
        weights = self.weights(generation, proposals)
        population = Population(generation, tolerance, proposals, distances, weights, consumed, index, scales)
        self.populations.append(population)
        return population

    def weights(self, generation, proposals):
        if generation == 0:
            raw = np.ones(len(proposals))
        else:
            kernel = self.kernel(generation)
            raw = np.array([self.prior_density(p.z) / kernel.mixture_density(p.z) for p in proposals])
        return raw / np.sum(raw)


def sample(sampler, simulate, stop, batch_size):
    """Runs the calibration until a stopping rule holds; returns the reason.

    simulate(list of Proposal) -> {index: summaries}; stop(sampler) -> a reason to stop after a closed
    generation, or None; batch_size(generation, needed, rate) -> the number of proposals of the next batch, or
    0 when none may be run (a budget spent): the generation is then left open and the reason is "budget"."""
    generation = len(sampler.populations)
    while True:
        simulated = {}
        while True:
            closed = sampler.close(generation, simulated)
            if isinstance(closed, Population):
                break
            first, accepted = closed
            done = len(simulated)
            rate = accepted / done if done and accepted else (
                sampler.populations[-1].acceptance() if sampler.populations else 1.0)
            count = batch_size(generation, sampler.size - accepted, rate, first)
            if count <= 0:
                return "budget"
            batch = [sampler.proposal(generation, i) for i in range(first, first + count) if i not in simulated]
            simulated.update(simulate(batch))
        reason = stop(sampler)
        if reason:
            return reason
        generation += 1
