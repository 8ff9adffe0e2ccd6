#version 450
// The smallest useful compute shader: a real module for LoadShader.
layout(local_size_x = 64) in;
layout(set = 0, binding = 0) buffer Values { uint values[]; };

void main() { values[gl_GlobalInvocationID.x] = gl_GlobalInvocationID.x; }
