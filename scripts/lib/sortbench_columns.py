"""The columns a run writes, by name: CPU Standard, our radix sort's thread
counts, the GPU's, the pair sort's, and how many a result file can hold.
The C++ side's tables are their home; these name the columns the scripts
treat apart.
"""

STANDARD = "CPU Standard"
# Our radix sort's columns and the threads each sorts on.
RADIX_COLUMNS = {f"CPU {n} Thread": n for n in (1, 2, 4, 8)}
GPU_COLUMNS = ("GPU", "GPU On Card", "GPU Transfer")
GPU_PARTS = GPU_COLUMNS[1:]  # parts of the GPU's whole sort, no sorter of their own
# -PAIRS: our key-carrying radix sort on one thread and on every online CPU.
PAIR_ONE, PAIR_MANY = PAIR_COLUMNS = ("Pair Radix 1 Thread", "Pair Radix All CPUs")
PEER_COUNT = 11  # the peers -PEERS times (kPeers in driver/sorters/Peers.h)
# The columns a run writes at most: with -GPU, -PAIRS and -PEERS.
RUN_COLUMNS = 1 + len(RADIX_COLUMNS) + len(GPU_COLUMNS) + len(PAIR_COLUMNS) + PEER_COUNT
MAX_COLUMNS = 32  # beyond RUN_COLUMNS: a file of more holds something else
