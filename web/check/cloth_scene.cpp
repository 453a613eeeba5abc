// penshell-cloth's torn-cloth scene, as the desktop's test_cloth runs it,
// built for the page: its hash, for the browser check to compare with the
// native one.
#include <cinttypes>
#include <cstdio>

#include "cloth_scenes.h"

int main()
{
    make_cloth(1);
    const unsigned torn_gently = tear_the_cloth();
    std::printf("torn gently %u, by the yanks %u\n", torn_gently, torn_springs());
    std::printf("torn cloth hash %016" PRIx64 "\n", cloth_hash());
    end_cloth();
    return 0;
}
