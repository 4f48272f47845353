"""Capabilities beyond nimbic_native's documented table.

Each lives in its own submodule, imported on demand, so that ``import
nimbic_scale`` needs nothing but nimbic_native:

- ``nimbic_scale.sampling``: Clifford shots bit-packed and in batches.
- ``nimbic_scale.mpi``: a state vector spread over MPI processes (``pip install '.[mpi]'``).
- ``nimbic_scale.dask``: shots and sweeps on a Dask cluster (``pip install '.[distributed]'``).
"""

from nimbic_native import version as _version

__version__: str = _version()
__all__ = ["__version__"]
