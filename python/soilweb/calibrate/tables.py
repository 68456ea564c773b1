"""The calibration's tables, rewritten whole as each generation closes: every generation's particles
(particles.tsv), the generations themselves (generations.tsv) and the last population (posterior.tsv). Reals
are written in the shortest form that reads back as the same number, so a table is the same, byte for byte,
whatever the workers and however often the calibration was stopped."""
import math
import os

from ..sweep.folder import write_whole

PARTICLE_COLUMNS = ("generation", "particle", "proposal", "weight", "distance")
GENERATION_COLUMNS = ("generation", "tolerance", "runs", "accepted", "acceptance_rate", "ess", "wall_seconds")


def number(value):
    if isinstance(value, int) and not isinstance(value, bool):
        return str(value)
    value = float(value)
    if math.isinf(value):
        return "Inf" if value > 0 else "-Inf"
    if math.isnan(value):
        return "NA"
    return repr(value)


def particle_rows(population):
    for k, (proposal, weight, distance) in enumerate(zip(population.proposals, population.weights,
                                                         population.distances)):
        yield [population.generation, k + 1, proposal.index + 1, weight, distance, *proposal.values,
               proposal.seeds[0]]


def table(header, rows):
    return "\t".join(header) + "\n" + "".join("\t".join(number(v) for v in row) + "\n" for row in rows)


def write_tables(cal, sampler, walls):
    folder = os.path.join(cal, "tables")
    os.makedirs(folder, exist_ok=True)
    header = list(PARTICLE_COLUMNS) + [p.name for p in sampler.priors] + ["seed"]
    rows = [row for population in sampler.populations for row in particle_rows(population)]
    write_whole(os.path.join(folder, "particles.tsv"), table(header, rows))
    write_whole(os.path.join(folder, "posterior.tsv"), table(header, particle_rows(sampler.populations[-1])))
    generations = [[p.generation, p.tolerance, p.consumed * sampler.replicates, len(p.proposals), p.acceptance(),
                    p.ess(), round(walls.get(p.generation, 0.0), 3)] for p in sampler.populations]
    write_whole(os.path.join(folder, "generations.tsv"), table(GENERATION_COLUMNS, generations))
