"""python3 -m diffusim_plot: the same as the diffusim-plot command."""

import sys

from .cli import main

sys.exit(main())
