"""The calibration's algorithm alone, against answers known in closed form, and its distance."""
import math
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "python"))
from soilweb.calibrate.distance import Distance  # noqa: E402  (after the path)
from soilweb.calibrate.inputs import Observed  # noqa: E402
from soilweb.calibrate.smc import Prior, Sampler, effective_sample_size, sample  # noqa: E402


class Absolute:
    """|x - y| over the summaries, unscaled: the distance of the closed-form cases."""

    def __init__(self, observed):
        self.observed = np.asarray(observed, dtype=float)

    def scales(self, simulated):
        return np.ones(len(self.observed))

    def __call__(self, summaries, scales):
        return float(np.sqrt(np.sum((np.asarray(summaries) - self.observed) ** 2)))


def calibrate(priors, model, observed, population, generations, batch=50, seed=11):
    """An in-memory calibration: model(z, rng) -> summaries, each run's generator seeded by its seed."""
    sampler = Sampler(priors, Absolute(observed), population, seed)

    def simulate(proposals):
        return {p.index: np.asarray(model(p.z, np.random.default_rng(p.seeds[0])), dtype=float) for p in proposals}

    reason = sample(sampler, simulate, lambda s: "generations" if len(s.populations) >= generations else None,
                    lambda generation, needed, rate, first: batch)
    return sampler, reason


def weighted(population):
    w = population.weights
    mean = np.sum(population.z * w[:, None], axis=0)
    cov = np.einsum("n,ni,nj->ij", w, population.z - mean, population.z - mean)
    return mean, cov


class SmcTest(unittest.TestCase):
    def test_a_normal_mean_under_a_conjugate_prior_converges_to_the_exact_posterior(self):
        # x-bar of n = 10 draws of N(theta, 1), observed 1.0; theta ~ N(0, 1): the posterior is
        # N(n y / (n + 1), 1 / (n + 1)).
        n, y = 10, 1.0
        exact_mean, exact_sd = n * y / (n + 1), 1 / math.sqrt(n + 1)
        sampler, _ = calibrate([Prior("theta", "normal", mean=0.0, sd=1.0)],
                               lambda z, rng: [z[0] + rng.standard_normal() / math.sqrt(n)], [y], 600, 6)
        errors = []
        for population in sampler.populations:
            mean, cov = weighted(population)
            errors.append((abs(mean[0] - exact_mean), abs(math.sqrt(cov[0, 0]) - exact_sd)))
        tolerances = [p.tolerance for p in sampler.populations]
        self.assertTrue(all(a > b for a, b in zip(tolerances[1:], tolerances[2:])), tolerances)
        self.assertLess(errors[-1][0], 0.04, errors)
        self.assertLess(errors[-1][1], 0.04, errors)
        self.assertGreater(errors[0][1], 0.3, "generation 0 is the prior, wider than the posterior")
        for population in sampler.populations:
            self.assertAlmostEqual(float(np.sum(population.weights)), 1.0, places=12)
            self.assertTrue(np.all(population.distances <= population.tolerance))

    def test_two_parameters_seen_only_through_their_sum_come_out_correlated(self):
        priors = [Prior("a", "uniform", -2.0, 2.0), Prior("b", "uniform", -2.0, 2.0)]
        sampler, _ = calibrate(priors, lambda z, rng: [z[0] + z[1] + 0.05 * rng.standard_normal()], [1.0], 400, 6)
        mean, cov = weighted(sampler.populations[-1])
        correlation = cov[0, 1] / math.sqrt(cov[0, 0] * cov[1, 1])
        self.assertLess(correlation, -0.9)
        self.assertAlmostEqual(mean[0] + mean[1], 1.0, delta=0.05)
        self.assertTrue(np.all(np.abs(sampler.populations[-1].z) <= 2.0), "every particle within the prior")

    def test_the_effective_sample_size_is_one_over_the_sum_of_squared_weights(self):
        self.assertAlmostEqual(effective_sample_size(np.full(8, 1 / 8)), 8.0)
        self.assertAlmostEqual(effective_sample_size([0.5, 0.5, 0.0, 0.0]), 2.0)
        self.assertAlmostEqual(effective_sample_size([0.7, 0.1, 0.1, 0.1]), 1 / (0.49 + 0.03))

    def test_batches_and_the_order_runs_end_in_change_nothing(self):
        priors = [Prior("a", "uniform", 0.0, 10.0), Prior("k", "uniform", 1, 20, whole=True)]

        def model(z, rng):
            return [z[0] * 0.5 + rng.standard_normal(), math.floor(z[1]) + rng.standard_normal()]

        def populations(batch, shuffled):
            sampler = Sampler(priors, Absolute([3.0, 7.0]), 60, 5)
            order = np.random.default_rng(batch)

            def simulate(proposals):
                if shuffled:
                    proposals = [proposals[k] for k in order.permutation(len(proposals))]
                return {p.index: np.array(model(p.z, np.random.default_rng(p.seeds[0]))) for p in proposals}
            sample(sampler, simulate, lambda s: "g" if len(s.populations) == 4 else None, lambda *_: batch)
            return [(p.z.tolist(), p.weights.tolist(), p.tolerance) for p in sampler.populations], sampler

        one, sampler = populations(1, False)
        self.assertEqual(one, populations(7, True)[0])
        self.assertEqual(one, populations(200, True)[0])
        whole = [p.values[1] for population in sampler.populations for p in population.proposals]
        self.assertTrue(all(isinstance(v, int) and 1 <= v <= 20 for v in whole))

    def test_a_budget_leaves_the_generation_it_cuts_open(self):
        sampler = Sampler([Prior("a", "uniform", 0.0, 1.0)], Absolute([0.5]), 10, 3)
        spent = []

        def batch(generation, needed, rate, first):
            allowed = max(0, 25 - sum(spent))
            spent.append(min(10, allowed))
            return spent[-1]
        reason = sample(sampler, lambda ps: {p.index: np.array([p.z[0]]) for p in ps}, lambda s: None, batch)
        self.assertEqual(reason, "budget")
        self.assertEqual(len(sampler.populations), 1, "generation 1 needs more than the 15 runs left")

    def test_priors_draw_within_their_support_and_give_the_model_its_kind_of_value(self):
        rng = np.random.default_rng(1)
        log = Prior("x", "log", 0.01, 100.0)
        draws = [log.value(log.draw(rng)) for _ in range(4000)]
        self.assertTrue(all(0.01 <= d <= 100 for d in draws))
        self.assertAlmostEqual(np.mean(np.log10(draws)), 0.0, delta=0.1, msg="uniform in the logarithm")
        normal = Prior("t", "normal", 0.0, 1.0, mean=0.9, sd=1.0)
        draws = [normal.draw(rng) for _ in range(4000)]
        self.assertTrue(all(0.0 <= d <= 1.0 for d in draws), "truncated to the key's range")
        self.assertEqual(normal.density(1.5), 0.0)
        whole = Prior("n", "uniform", 2, 4, whole=True)
        counts = np.bincount([whole.value(whole.draw(rng)) for _ in range(3000)], minlength=5)
        self.assertEqual(counts[:2].sum(), 0)
        self.assertTrue(all(900 < c < 1100 for c in counts[2:]), counts)


class DistanceTest(unittest.TestCase):
    def test_the_distance_transforms_scales_weights_and_sums_over_series_and_days(self):
        # Two series of prey counts on days 5 and 10 (one missing) and the biomass on day 5.
        observed = Observed([("PREY_ACTIVE", 5, "a", 9.0), ("PREY_ACTIVE", 10, "a", 3.0), ("PREY_ACTIVE", 5, "b", 19.0),
                             ("BIOMASS", 5, "a", 100.0)], ["PREY_ACTIVE", "BIOMASS"], True)
        distance = Distance(observed, [], scales={"PREY_ACTIVE": 0.5}, weights={"BIOMASS": 4.0})
        self.assertEqual(distance.needs, [("BIOMASS", 5), ("PREY_ACTIVE", 5), ("PREY_ACTIVE", 10)])
        self.assertEqual(distance.transform_of, {"PREY_ACTIVE": "log1p", "BIOMASS": "none"})
        simulated = np.array([104.0, 18.0, 4.0])  # prey counted in model units: 0.5 each observed unit
        scales = np.array([2.0, 0.5])
        expected = math.sqrt(((math.log1p(9) - math.log1p(9)) / 2) ** 2 + ((math.log1p(2) - math.log1p(3)) / 2) ** 2 +
                             ((math.log1p(9) - math.log1p(19)) / 2) ** 2 + 4 * ((104 - 100) / 0.5) ** 2)
        self.assertAlmostEqual(distance(simulated, scales), expected, places=12)
        self.assertEqual(distance(np.array([104.0, 18.0, np.nan]), scales), math.inf, "a run that ended first")
        runs = np.array([[100.0, 2.0, 2.0], [110.0, 6.0, 2.0], [120.0, 14.0, 2.0], [np.nan] * 3])
        spread = distance.scales(runs)
        day_5 = 1.4826 * np.median(np.abs(np.log1p([1, 3, 7.0]) - np.log1p(3)))
        self.assertAlmostEqual(spread[0], day_5 / 2, places=12, msg="the median of the prey's days, day 10's spread 0")
        self.assertAlmostEqual(spread[1], 1.4826 * 10, msg="the failed run left out")


if __name__ == "__main__":
    unittest.main()
