#pragma once
// placeholder: the particle kernel
